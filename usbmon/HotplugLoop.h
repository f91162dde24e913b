// The daemon's main loop: hot-plug registration, libusb event handling, and
// the lifecycle of the workers.
//
// libusb calls the hot-plug callbacks on whichever thread handles its
// events, with its event lock held: the main thread, or a worker inside a
// synchronous transfer (and its USB section). So the callbacks only record
// what happened, in the hot-plug queue (HotplugQueue.h), not guarded by m;
// the main loop stops the workers of departed printers, starts the
// workers of new arrivals and joins and deletes the records of ended
// workers, before each round of event handling.
#pragma once

#include <libusb.h>

namespace vantora_usbmon {

// Arrival of a matching device: queues it for the main loop. Always 0.
int hotplug_callback(libusb_context* context, libusb_device* device, libusb_hotplug_event event, void* user);

// Departure of a matching device: queues it for the main loop, which stops
// its worker (or drops its queued arrival). Always 0.
int hotplug_callback_detach(libusb_context* context, libusb_device* device, libusb_hotplug_event event,
                            void* user);

// Starts libusb and hot-plug handling and runs until RequestMonitorStop.
// 1 when libusb, hot-plug support or callback registration is missing;
// 0 after a stop, when every worker has ended and libusb is closed.
int RunMonitor();

// Asks RunMonitor to stop: its workers stop as if their printers had left
// (they write the offline file) and are joined. The daemon's stop signals
// and the tests call it; it may be called from any thread.
void RequestMonitorStop();

}  // namespace vantora_usbmon
