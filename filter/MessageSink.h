// Where the job driver's messages go: standard error, one line each as CUPS
// reads a filter's messages ("ERROR: ..."), or, in the printer application,
// the job's log.
#pragma once

enum class MessageLevel { kDebug, kInfo, kWarning, kError };

class MessageSink {
public:
    virtual ~MessageSink() = default;

    // One message: `text` without level prefix or line end.
    virtual void Message(MessageLevel level, const char* text) = 0;
};

// CUPS's way: "ERROR: text" (or WARNING, INFO, DEBUG) and a line end on
// standard error.
class StderrMessageSink : public MessageSink {
public:
    void Message(MessageLevel level, const char* text) override;
};
