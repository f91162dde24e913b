#include "RequestRewrites.h"

#include <cstring>
#include <string>
#include <vector>

void ScrubNames(ipp_t* request)
{
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr; attr = ippNextAttribute(request)) {
        const char* name = ippGetName(attr);
        if (name == nullptr || (std::strcmp(name, "job-name") != 0 && std::strcmp(name, "document-name") != 0 &&
                                std::strcmp(name, "requesting-user-name") != 0))
            continue;
        for (int i = 0; i < ippGetCount(attr); ++i) {
            const char* value = ippGetString(attr, i, nullptr);
            if (value == nullptr || std::strpbrk(value, "<>&\"'") == nullptr)
                continue;
            std::string scrubbed = value;
            for (char& c : scrubbed) {
                if (std::strchr("<>&\"'", c) != nullptr)
                    c = '_';
            }
            ippSetString(request, &attr, i, scrubbed.c_str());
        }
    }
}

void DropJobEvents(ipp_t* request)
{
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr;) {
        ipp_attribute_t* next = ippNextAttribute(request);
        const char* name = ippGetName(attr);
        if (name != nullptr && std::strcmp(name, "notify-events") == 0) {
            std::vector<std::string> kept;
            for (int i = 0; i < ippGetCount(attr); ++i) {
                const char* event = ippGetString(attr, i, nullptr);
                if (event != nullptr && std::strncmp(event, "job-", 4) != 0 && std::strncmp(event, "document-", 9) != 0)
                    kept.emplace_back(event);
            }
            const int dropped = ippGetCount(attr) - static_cast<int>(kept.size());
            if (kept.empty()) {
                // Nothing left: PAPPL refuses the subscription for want of events.
                ippDeleteAttribute(request, attr);
            } else if (dropped > 0) {
                // libcups 2.4 deletes no values at the end of an attribute:
                // the first ones go, the kept ones are written over the rest.
                if (!ippDeleteValues(request, &attr, 0, dropped)) {
                    ippDeleteAttribute(request, attr);
                } else {
                    for (size_t i = 0; i < kept.size(); ++i)
                        ippSetString(request, &attr, static_cast<int>(i), kept[i].c_str());
                }
            }
        }
        attr = next;
    }
}
