// The CUPS queues of this printer model.
#pragma once

#include <QList>
#include <QString>

namespace vantora_status {

struct PrinterQueue {
    QString name;  // destination name (an instance repeats its queue's name)
    QString uri;   // its "device-uri" option
};

// Destinations whose device URI contains the model prefix, in the order CUPS
// returns them, one entry per destination (so per saved instance). Those
// without a name or device URI are skipped; no scheduler gives an empty list.
QList<PrinterQueue> ListModelQueues();

// True when a destination of this model exists.
bool HasModelQueue();

}  // namespace vantora_status
