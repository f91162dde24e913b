#include "HotplugLoop.h"

#include "ClassKeeper.h"
#include "HotplugQueue.h"
#include "PrinterBoard.h"
#include "ProgramRunner.h"
#include "Records.h"
#include "RequestFiles.h"
#include "UsbTransfer.h"
#include "Worker.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vantora_usbmon {

namespace {

// The stop request and the context while the loop runs; guarded by
// g_loopMutex, never by m: libusb may run the callbacks inside a worker's
// USB section. The hot-plug news: arrivals without a record yet, and the
// printers that left; its wake ends the loop's pauses early.
std::mutex g_loopMutex;
bool g_stopRequested = false;
libusb_context* g_loopContext = nullptr;
HotplugQueue g_news;

bool StopWasRequested()
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    return g_stopRequested;
}

// A pause of one cycle, ended early by a stop request or hot-plug news.
void PauseOneCycle()
{
    g_news.WaitForNews(std::chrono::duration_cast<std::chrono::milliseconds>(GetMonitorSettings().cycle),
                       StopWasRequested);
}

// Stops the workers of the printers that left.
void StopDepartedWorkers()
{
    for (libusb_device* device : g_news.TakeDepartures()) {
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
        libusb_device* device = g_news.TakeArrival();
        if (device == nullptr)
            return;
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
    g_news.Clear();
    {
        std::lock_guard<std::mutex> lock(m);
        for (thdata* record : thDevData)
            StopWorker(record);
    }
    ReapStoppedWorkers(true);
}

}  // namespace

int hotplug_callback(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return 0;
    g_news.Arrived(device);
    return 0;
}

int hotplug_callback_detach(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    g_news.Left(device);
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
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        g_stopRequested = true;
        if (g_loopContext != nullptr)
            libusb_interrupt_event_handler(g_loopContext);
    }
    // After the lock: the pause asks StopWasRequested under the queue's lock.
    g_news.Wake();
}

}  // namespace vantora_usbmon
