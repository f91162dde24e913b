// The CUPS queue of a printer: found by the serial number in its device URI
// (enum_cb), or made with lpadmin: "VANTORA-RT-50" for the first printer,
// "VANTORA-RT-50-<n>" for the others.
#pragma once

#include "Records.h"

#include <cups/cups.h>

#include <string>
#include <vector>

namespace vantora_usbmon {

// cupsEnumDests callback; `user` is the printer's thdata. Sets bQueueOk when
// the destination's device URI is one of this model's whose text after
// "serial=" is exactly the record's serial. Always 1 (go on).
int enum_cb(void* user, unsigned int flags, cups_dest_t* dest);

// A destination as the registration sees it.
struct QueueEntry {
    std::string name;
    std::string uri;   // empty when it has none
};

// What to register: nothing, the first queue, or numbered queue `number`.
struct QueuePlan {
    enum Kind { kNothing, kFirstQueue, kNumberedQueue } kind = kNothing;
    int number = 0;
    std::string blocker;   // kNothing: the queue in the way
};

// Chooses the queue for `serial` from the destinations, in the scheduler's
// order. The first queue when there are none of this model (or the first
// of them already carries the serial, under any scheme); else a number:
// 2 when no numbers are taken or 2 is free at the bottom, else the highest
// gap above 2, else the largest plus one. A queue name that exists is never
// chosen (the lowest free number from 2 instead), and a queue whose URI
// names another printer is never re-pointed.
QueuePlan PlanQueue(const std::vector<QueueEntry>& destinations, const char* serial);

// Looks for the record's queue and, when there is none, creates it with
// lpadmin (run without a shell). Sets bQueueOk when the queue exists or was
// created; failures are reported once and retried next cycle.
void RegisterQueue(thdata* record);

}  // namespace vantora_usbmon
