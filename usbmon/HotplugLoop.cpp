#include "HotplugLoop.h"

#include "ClassKeeper.h"
#include "PrinterBoard.h"
#include "ProgramRunner.h"
#include "Records.h"
#include "RequestFiles.h"
#include "UsbTransfer.h"
#include "Worker.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace vantora_usbmon {

namespace {

// The stop request, the hot-plug news and the context while the loop runs;
// guarded by g_loopMutex, never by m: libusb may run the callbacks inside a
// worker's USB section. g_loopWake ends the loop's pauses early.
std::mutex g_loopMutex;
std::condition_variable g_loopWake;
bool g_stopRequested = false;
libusb_context* g_loopContext = nullptr;
std::deque<libusb_device*> g_arrivals;      // no record yet; referenced
std::vector<libusb_device*> g_departures;   // left the bus; referenced

bool StopWasRequested()
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    return g_stopRequested;
}

// A pause of one cycle, ended early by a stop request or hot-plug news.
void PauseOneCycle()
{
    std::unique_lock<std::mutex> lock(g_loopMutex);
    g_loopWake.wait_for(lock, GetMonitorSettings().cycle,
                        [] { return g_stopRequested || !g_arrivals.empty() || !g_departures.empty(); });
}

// Stops the workers of the printers that left.
void StopDepartedWorkers()
{
    std::vector<libusb_device*> departed;
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        departed.swap(g_departures);
    }
    for (libusb_device* device : departed) {
        {
            std::lock_guard<std::mutex> lock(m);
            for (thdata* record : thDevData) {
                if (record->device == device && !record->bStop) {
                    record->bDeparted = true;
                    StopWorker(record);
                    break;
                }
            }
        }
        libusb_unref_device(device);
    }
}

// Gives each arrival a record and a worker.
void StartArrivedWorkers()
{
    for (;;) {
        libusb_device* device = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_loopMutex);
            if (g_arrivals.empty())
                return;
            device = g_arrivals.front();
            g_arrivals.pop_front();
        }
        thdata* record = nullptr;
        {
            std::lock_guard<std::mutex> lock(m);
            // Reported twice (enumeration and a hot-plug event can overlap).
            const bool served = std::any_of(thDevData.begin(), thDevData.end(), [device](const thdata* r) {
                return r->device == device && !r->bStop;
            });
            if (!served) {
                record = new thdata;
                record->device = device;
                record->bus = libusb_get_bus_number(device);
                record->address = libusb_get_device_address(device);
                record->arrivedAt = std::chrono::steady_clock::now();
                thDevData.push_back(record);
            }
        }
        if (record == nullptr) {
            libusb_unref_device(device);
            continue;
        }
        const int error = pthread_create(&record->thread, nullptr, thread_function, record);
        if (error == 0) {
            CountWorkerStarted();
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m);
            thDevData.erase(std::find(thDevData.begin(), thDevData.end(), record));
        }
        ReportFailure("printer at USB bus %u device %u: no worker thread: %s", record->bus, record->address,
                      std::strerror(error));
        libusb_unref_device(record->device);
        delete record;
    }
}

// Joins the workers that have ended (all stopped ones when `wait` is set)
// and deletes their records.
void ReapStoppedWorkers(bool wait)
{
    std::vector<thdata*> ended;
    {
        std::lock_guard<std::mutex> lock(m);
        auto done = [wait](const thdata* record) { return record->bStop && (wait || record->bEnded); };
        for (thdata* record : thDevData) {
            if (done(record))
                ended.push_back(record);
        }
        thDevData.erase(std::remove_if(thDevData.begin(), thDevData.end(), done), thDevData.end());
    }
    for (thdata* record : ended) {
        pthread_join(record->thread, nullptr);
        libusb_unref_device(record->device);
        delete record;
        CountWorkerEnded();
    }
}

// Stops every worker as if its printer had left (each writes its offline
// status file), waits for them, and drops the news not yet acted on.
void StopAllWorkers()
{
    std::vector<libusb_device*> pending;
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        pending.assign(g_arrivals.begin(), g_arrivals.end());
        pending.insert(pending.end(), g_departures.begin(), g_departures.end());
        g_arrivals.clear();
        g_departures.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        for (thdata* record : thDevData)
            StopWorker(record);
    }
    for (libusb_device* device : pending)
        libusb_unref_device(device);
    ReapStoppedWorkers(true);
}

}  // namespace

int hotplug_callback(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return 0;
    libusb_ref_device(device);
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        g_arrivals.push_back(device);
    }
    g_loopWake.notify_all();
    return 0;
}

int hotplug_callback_detach(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        const auto queued = std::find(g_arrivals.begin(), g_arrivals.end(), device);
        if (queued != g_arrivals.end()) {
            g_arrivals.erase(queued);
            dropped = true;
        } else {
            libusb_ref_device(device);
            g_departures.push_back(device);
        }
    }
    g_loopWake.notify_all();
    if (dropped)
        libusb_unref_device(device);
    return 0;
}

int RunMonitor()
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) < 0)
        return 1;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_exit(context);
        return 1;
    }
    bSELinuxEnabled = isSELinuxEnabled();
    SetWorkerContext(context);

    libusb_hotplug_callback_handle arrival = 0, departure = 0;
    if (libusb_hotplug_register_callback(context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, LIBUSB_HOTPLUG_ENUMERATE,
                                         kRt50VendorId, kRt50ProductId, LIBUSB_HOTPLUG_MATCH_ANY, hotplug_callback,
                                         nullptr, &arrival) != LIBUSB_SUCCESS) {
        libusb_exit(context);
        return 1;
    }
    if (libusb_hotplug_register_callback(context, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_ENUMERATE,
                                         kRt50VendorId, kRt50ProductId, LIBUSB_HOTPLUG_MATCH_ANY,
                                         hotplug_callback_detach, nullptr, &departure) != LIBUSB_SUCCESS) {
        libusb_hotplug_deregister_callback(context, arrival);
        libusb_exit(context);
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        g_loopContext = context;
    }

    // What killed backends left behind while nobody looked.
    SweepLeftOverMarkers(GetMonitorSettings().exchangeDir.c_str());
    ResetBoard();
    if (!StartClassKeeper())
        ReportFailure("no class keeper thread: the media classes are not kept");

    bool eventFailureReported = false;
    while (!StopWasRequested()) {
        StopDepartedWorkers();
        StartArrivedWorkers();
        ReapStoppedWorkers(false);
        // While a worker talks to its printer it handles the events itself.
        if (!usb_openclose_mutex.try_lock()) {
            PauseOneCycle();
            continue;
        }
        usb_openclose_mutex.unlock();
        const int handled = libusb_handle_events(context);
        if (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED) {
            if (!eventFailureReported)
                ReportFailure("USB event handling fails: %s", libusb_error_name(handled));
            eventFailureReported = true;
            PauseOneCycle();
        }
    }

    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        g_loopContext = nullptr;
        g_stopRequested = false;
    }
    libusb_hotplug_deregister_callback(context, departure);
    libusb_hotplug_deregister_callback(context, arrival);
    StopClassKeeper();
    StopAllWorkers();
    SetWorkerContext(nullptr);
    libusb_exit(context);
    return 0;
}

void RequestMonitorStop()
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    g_stopRequested = true;
    g_loopWake.notify_all();
    if (g_loopContext != nullptr)
        libusb_interrupt_event_handler(g_loopContext);
}

}  // namespace vantora_usbmon
