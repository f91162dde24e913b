#include "RequestRewrites.h"

#include <cstring>
#include <set>
#include <string>
#include <iterator>
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

void WithholdSubscriberNames(ipp_t* request)
{
    // What PAPPL 1.3 keeps of a subscription.
    static const char* const kSubscription[] = {
        "notify-charset",     "notify-events",       "notify-job-id",       "notify-lease-duration",
        "notify-natural-language", "notify-pull-method", "notify-subscription-id", "notify-subscription-uuid",
        "notify-user-data"};
    std::set<std::string> kept;
    cups_array_t* names = ippCreateRequestedArray(request);
    if (names == nullptr) {
        kept.insert(std::begin(kSubscription), std::end(kSubscription));
    } else {
        for (const char* name = static_cast<const char*>(cupsArrayFirst(names)); name != nullptr;
             name = static_cast<const char*>(cupsArrayNext(names))) {
            if (std::strcmp(name, "notify-subscriber-user-name") != 0)
                kept.insert(name);
        }
        cupsArrayDelete(names);
    }
    ReplaceRequestedAttributes(request, kept, "notify-subscription-id");
}

void ReplaceRequestedAttributes(ipp_t* request, const std::set<std::string>& kept, const char* fallback)
{
    for (ipp_attribute_t* attr = ippFirstAttribute(request); attr != nullptr;) {
        ipp_attribute_t* next = ippNextAttribute(request);
        const char* name = ippGetName(attr);
        if (name != nullptr && std::strcmp(name, "requested-attributes") == 0)
            ippDeleteAttribute(request, attr);
        attr = next;
    }
    std::vector<const char*> values;
    for (const std::string& name : kept)
        values.push_back(name.c_str());
    if (values.empty())
        values.push_back(fallback);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(values.size()),
                  nullptr, values.data());
}
