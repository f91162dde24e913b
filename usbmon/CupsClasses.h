// The class keeper's IPP requests to the local scheduler (libcups, the
// scheduler CUPS_SERVER names): its RT-50 queues and media classes, and the
// changes of a round. Every request runs on the calling thread's own
// connection.
#pragma once

#include "ClassPlan.h"

#include <string>
#include <vector>

namespace vantora_usbmon {

// Reads the RT-50 queues (device URIs of this model with a valid serial)
// and the two media classes, with whether each class has unfinished jobs
// and whether each processing queue prints a job sent to it directly.
// False when the scheduler did not answer.
bool ReadSchedulerView(std::vector<QueueView>* queues, std::vector<ClassView>* classes);

// Makes the class with these members, enabled and accepting (view.create),
// or changes its members.
bool SetClass(const ClassView& view);
// Removes the class, unless a job has come to wait on it meanwhile.
bool DeleteClass(const std::string& name);
// Sets the queue's printer-info (when not empty) and printer-location.
bool DescribeQueue(const QueueView& queue);
// Stops the queue with `reason` as its printer-state-message.
bool StopQueue(const std::string& queue, const std::string& reason);
// Starts the queue again (it keeps accepting jobs throughout).
bool StartQueue(const std::string& queue);

// The scheduler's message for the last failed request of this thread.
const char* LastSchedulerError();

}  // namespace vantora_usbmon
