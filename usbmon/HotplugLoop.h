// The daemon's main loop: hot-plug registration, libusb event handling, and
// the lifecycle of the workers.
//
// libusb calls the hot-plug callbacks on whichever thread handles its
// events, with its event lock held: the main thread, or a worker inside a
// synchronous transfer. So the callbacks only record what happened (an
// arrival in a queue, bStop on a departing printer's record); the main loop
// starts the workers of new arrivals and joins and deletes the records of
// ended workers, before each round of event handling.
#pragma once

#include <libusb.h>

namespace vantora_usbmon {

// Arrival of a matching device: queues it for the main loop. Always 0.
int hotplug_callback(libusb_context* context, libusb_device* device, libusb_hotplug_event event, void* user);

// Departure of a matching device: sets bStop on its record (or drops its
// queued arrival). Always 0.
int hotplug_callback_detach(libusb_context* context, libusb_device* device, libusb_hotplug_event event,
                            void* user);

// Starts libusb and hot-plug handling and runs until RequestMonitorStop.
// 1 when libusb, hot-plug support or callback registration is missing;
// 0 after a stop, when every worker has ended and libusb is closed.
int RunMonitor();

// Asks RunMonitor to stop: its workers stop as if their printers had left
// (they write the offline file) and are joined. For tests; the daemon runs
// until it is killed.
void RequestMonitorStop();

}  // namespace vantora_usbmon
