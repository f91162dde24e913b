#include "MessageSink.h"

#include <cstdio>

void StderrMessageSink::Message(MessageLevel level, const char* text)
{
    static const char* const kPrefixes[] = {"DEBUG", "INFO", "WARNING", "ERROR"};
    std::fprintf(stderr, "%s: %s\n", kPrefixes[static_cast<int>(level)], text);
}
