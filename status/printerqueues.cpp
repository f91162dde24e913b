// Looks up the queues of this printer model among the CUPS destinations.
#include "printerqueues.h"

#include "ExchangeFiles.h"

#include <cups/cups.h>

namespace vantora_status {

namespace {

// The device URI of a destination of this model, or null.
const char *ModelUri(cups_dest_t *dest)
{
    if (dest->name == nullptr)
        return nullptr;
    const char *uri = cupsGetOption("device-uri", dest->num_options, dest->options);
    if (!vantora_exchange::IsModelDeviceUri(uri))
        return nullptr;
    return uri;
}

}  // namespace

QList<PrinterQueue> ListModelQueues()
{
    QList<PrinterQueue> queues;
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests(&dests);
    for (int i = 0; i < count; ++i) {
        const char *uri = ModelUri(&dests[i]);
        if (uri != nullptr)
            queues.append({QString::fromUtf8(dests[i].name), QString::fromUtf8(uri)});
    }
    cupsFreeDests(count, dests);
    return queues;
}

bool HasModelQueue()
{
    cups_dest_t *dests = nullptr;
    int count = cupsGetDests(&dests);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = ModelUri(&dests[i]) != nullptr;
    cupsFreeDests(count, dests);
    return found;
}

}  // namespace vantora_status
