// A whole IPP request as the printer application reads and changes it:
// read by libcups through the application's nesting bound (its ippReadIO,
// compiled in), then its names scrubbed and its job events dropped.
// Checks that the bound follows libcups exactly: a request libcups read to
// its end is one the bound saw end, never nested deeper than the bound; a
// request the bound refused is never read. And that no name keeps a
// character the web pages would take for HTML, no subscription keeps a
// job event, and no subscription listing asks for who subscribed.
#include "IppNesting.h"
#include "RequestRewrites.h"

#include <cups/ipp.h>

#include <cstdint>
#include <cstring>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

ssize_t ReadInput(void* context, ipp_uchar_t* buffer, size_t length)
{
    Input* input = static_cast<Input*>(context);
    const size_t left = input->size - input->at;
    const size_t count = length < left ? length : left;
    std::memcpy(buffer, input->data + input->at, count);
    input->at += count;
    return static_cast<ssize_t>(count);
}

int Depth(ipp_t* ipp)
{
    int deepest = 0;
    for (ipp_attribute_t* attr = ippFirstAttribute(ipp); attr != nullptr; attr = ippNextAttribute(ipp)) {
        if (ippGetValueTag(attr) != IPP_TAG_BEGIN_COLLECTION)
            continue;
        for (int i = 0; i < ippGetCount(attr); ++i) {
            const int depth = 1 + Depth(ippGetCollection(attr, i));
            if (depth > deepest)
                deepest = depth;
        }
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input{data, size, 0};
    ipp_t* request = ippNew();
    const ipp_state_t state = ippReadIO(&input, ReadInput, 1, nullptr, request);

    // The bound's own view of the bytes libcups took.
    IppNestingGauge gauge(true);
    const bool accepted = gauge.Take(data, input.at);
    if (state == IPP_STATE_DATA && (!accepted || !gauge.finished() || Depth(request) > kMaxIppNesting))
        __builtin_trap();
    if (!accepted && state != IPP_STATE_ERROR)
        __builtin_trap();

    if (state == IPP_STATE_DATA) {
        ScrubNames(request);
        DropJobEvents(request);
        for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
            const char* name = ippGetName(attr);
            if (name == nullptr)
                continue;
            const bool userText = std::strcmp(name, "job-name") == 0 || std::strcmp(name, "document-name") == 0 ||
                                  std::strcmp(name, "requesting-user-name") == 0;
            for (int i = 0; i < ippGetCount(attr); ++i) {
                const char* value = ippGetString(attr, i, nullptr);
                if (value == nullptr)
                    continue;
                if (userText && std::strpbrk(value, "<>&\"'") != nullptr)
                    __builtin_trap();
                if (std::strcmp(name, "notify-events") == 0 && std::strncmp(value, "job-", 4) == 0)
                    __builtin_trap();
            }
        }
        // Who subscribed stays out of what a subscription listing asks for.
        WithholdSubscriberNames(request);
        int lists = 0;
        for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
            if (ippGetName(attr) == nullptr || std::strcmp(ippGetName(attr), "requested-attributes") != 0)
                continue;
            ++lists;
            for (int i = 0; i < ippGetCount(attr); ++i) {
                const char* value = ippGetString(attr, i, nullptr);
                if (value != nullptr && std::strcmp(value, "notify-subscriber-user-name") == 0)
                    __builtin_trap();
            }
        }
        if (lists != 1)
            __builtin_trap();
        // What PAPPL does next with a request: its requested names, and a
        // copy written out (a job's attributes are saved).
        cups_array_t* names = ippCreateRequestedArray(request);
        cupsArrayDelete(names);
        ipp_t* copy = ippNew();
        ippCopyAttributes(copy, request, 0, nullptr, nullptr);
        (void)ippLength(copy);
        ippDelete(copy);
    }
    ippDelete(request);
    return 0;
}
