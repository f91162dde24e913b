#include "PrinterRegistry.h"
#include "RegistryState.h"

#include "ExchangeFiles.h"
#include "JobQueue.h"
#include "PrinterClaim.h"
#include "PrinterFinder.h"
#include "PrinterIdentity.h"
#include "PrinterQueries.h"
#include "Rt50Uri.h"
#include "UsbTransfer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

namespace {

int OnArrived(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    TheRegistry().news.Arrived(device);
    return 0;
}

int OnLeft(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    TheRegistry().news.Left(device);
    return 0;
}

// The firmware versions PAPPL reports (printer-firmware-*): the
// application's, then each RT-50's that arrived ("RT-50 <serial>").
void ShowFirmwareVersions(Registry& registry)
{
    std::vector<pappl_version_t> versions(1);
    std::snprintf(versions[0].name, sizeof versions[0].name, "VANTORA RT-50 Printer Application");
    std::snprintf(versions[0].sversion, sizeof versions[0].sversion, "%s", VANTORA_VERSION);
    std::sscanf(VANTORA_VERSION, "%hu.%hu.%hu", &versions[0].version[0], &versions[0].version[1],
                &versions[0].version[2]);
    for (const auto& attached : AllAttachedPrinters()) {
        const std::string firmware = PlainFirmware(attached->Facts().firmware);
        if (firmware.empty() || versions.size() >= 8)
            continue;
        pappl_version_t version{};
        std::snprintf(version.name, sizeof version.name, "RT-50 %s", attached->Serial().c_str());
        std::snprintf(version.sversion, sizeof version.sversion, "%s", firmware.c_str());
        std::sscanf(firmware.c_str(), "%hu.%hu.%hu.%hu", &version.version[0], &version.version[1],
                    &version.version[2], &version.version[3]);
        versions.push_back(version);
    }
    papplSystemSetVersions(registry.system, static_cast<int>(versions.size()), versions.data());
}

// Opens, identifies and claims an arrived device. True when it was taken
// (or is no RT-50 at all); false to try again later (busy, not answering).
bool TakeArrival(Registry& registry, libusb_device* device)
{
    FoundPrinter found;
    libusb_device_handle* handle = nullptr;
    const int probed = ProbePrinter(device, SerialSource::kAskPrinter, &found, &handle);
    if (probed == kNotRt50) {
        papplLog(registry.system, PAPPL_LOGLEVEL_INFO, "USB device %u/%u is not an RT-50.",
                 libusb_get_bus_number(device), libusb_get_device_address(device));
        return true;
    }
    if (probed != 0 || found.busy) {
        // Another program (the USB monitor daemon, a CUPS backend) holds
        // the printer: one process owns a printer at a time.
        papplLog(registry.system, PAPPL_LOGLEVEL_WARN, "RT-50 at USB %u/%u is in use or not answering (%s).",
                 libusb_get_bus_number(device), libusb_get_device_address(device),
                 found.busy ? "busy" : libusb_error_name(probed));
        return false;
    }
    if (handle == nullptr || !found.serialValid) {
        papplLog(registry.system, PAPPL_LOGLEVEL_WARN, "RT-50 at USB %u/%u has no usable serial number.",
                 libusb_get_bus_number(device), libusb_get_device_address(device));
        ReleasePrinter(handle);
        return false;
    }
    char firmware[kQueryValueSize] = "";
    GetFirmVersion(handle, firmware, sizeof firmware);

    std::shared_ptr<AttachedPrinter> attached;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        std::shared_ptr<AttachedPrinter>& slot = registry.printers[found.serial];
        if (!slot)
            slot = std::make_shared<AttachedPrinter>(found.serial);
        attached = slot;
    }
    {
        // Plugged in again: a printer deleted before is made again.
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.deleted.erase(found.serial);
    }
    attached->Attach(device, handle, firmware, found.deviceId.c_str());
    // The log gets the firmware's plain characters only: the printer's text
    // could forge log lines.
    papplLog(registry.system, PAPPL_LOGLEVEL_INFO, "RT-50 %s arrived (firmware %s).", found.serial.c_str(),
             PlainFirmware(firmware).c_str());
    ShowFirmwareVersions(registry);
    // Polled first, so that the printer shows the media loaded from the
    // moment clients see it.
    attached->Poll();
    EnsurePrinter(registry, *attached);
    return true;
}

void HandleQueued(Registry& registry, bool retryNow)
{
    // A departure first: an arrival of the same device still queued was
    // dropped by the queue, one waiting for a retry is dropped here.
    for (libusb_device* device : registry.news.TakeDepartures()) {
        for (const auto& attached : AllAttachedPrinters())
            attached->Detach(device);
        for (auto it = registry.retries.begin(); it != registry.retries.end(); ++it) {
            if (*it == device) {
                libusb_unref_device(*it);
                registry.retries.erase(it);
                break;
            }
        }
        libusb_unref_device(device);
    }
    std::vector<libusb_device*> arrivals;
    while (libusb_device* device = registry.news.TakeArrival())
        arrivals.push_back(device);
    if (retryNow) {
        arrivals.insert(arrivals.end(), registry.retries.begin(), registry.retries.end());
        registry.retries.clear();
    }
    for (libusb_device* device : arrivals) {
        if (TakeArrival(registry, device))
            libusb_unref_device(device);
        else
            registry.retries.push_back(device);
    }
}

// PAPPL 1.3 starts a job when one is queued, ends or is released, not the
// jobs the state file brought back: those are started once the system runs.
void StartQueuedJobs(pappl_printer_t* printer, void*)
{
    // PAPPL would start the newest of them first.
    QueueLaterPendingJobs(printer);
    if (papplPrinterGetNumberOfActiveJobs(printer) > 0 && papplPrinterGetState(printer) == IPP_PSTATE_IDLE)
        papplPrinterResume(printer);
}

void RunRegistry(Registry* registry)
{
    using Clock = std::chrono::steady_clock;
    // Printers are added once the system serves clients.
    while (!registry->stop && !papplSystemIsRunning(registry->system))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    registry->ran = true;
    if (!registry->stop) {
        // New jobs are held from now on; the saved state's are ordered.
        StartJobQueue();
        papplSystemIteratePrinters(registry->system, StartQueuedJobs, nullptr);
    }
    auto lastPoll = Clock::now();
    auto lastRetry = Clock::now();
    while (!registry->stop && papplSystemIsRunning(registry->system) && !papplSystemIsShutdown(registry->system)) {
        timeval wait{0, 200000};
        libusb_handle_events_timeout_completed(registry->context, &wait, nullptr);
        const bool retry = Clock::now() - lastRetry > std::chrono::seconds(3);
        if (retry)
            lastRetry = Clock::now();
        HandleQueued(*registry, retry);
        RemakePrintersAddedByHand(*registry);
        for (const auto& attached : AllAttachedPrinters())
            attached->UsePrinter([&](pappl_printer_t* printer) { KeepJobOrder(printer, *attached); });
        if (Clock::now() - lastPoll >= std::chrono::milliseconds(registry->settings.pollMs)) {
            lastPoll = Clock::now();
            for (const auto& attached : AllAttachedPrinters()) {
                // Printers added from the state file before their printer
                // arrived get theirs now.
                if (attached->Online() && attached->Printer() == nullptr)
                    EnsurePrinter(*registry, *attached);
                attached->Poll();
            }
        }
    }
}

}  // namespace

std::shared_ptr<AttachedPrinter> FindAttachedPrinter(const std::string& serial)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto found = registry.printers.find(serial);
    return found != registry.printers.end() ? found->second : nullptr;
}

std::shared_ptr<AttachedPrinter> PrinterForSerial(const std::string& serial)
{
    if (!vantora_exchange::IsValidSerial(serial.c_str()))
        return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::shared_ptr<AttachedPrinter>& slot = registry.printers[serial];
    if (!slot)
        slot = std::make_shared<AttachedPrinter>(serial);
    return slot;
}

std::vector<std::shared_ptr<AttachedPrinter>> AllAttachedPrinters()
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::vector<std::shared_ptr<AttachedPrinter>> printers;
    for (const auto& entry : registry.printers)
        printers.push_back(entry.second);
    return printers;
}

bool StartPrinterRegistry(pappl_system_t* system, const RegistrySettings& settings)
{
    Registry& registry = TheRegistry();
    if (registry.started)
        return true;
    if (libusb_init(&registry.context) != 0)
        return false;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_exit(registry.context);
        registry.context = nullptr;
        return false;
    }
    registry.system = system;
    registry.settings = settings;
    registry.mainThread = std::this_thread::get_id();
    registry.stop = false;
    if (libusb_hotplug_register_callback(registry.context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                                         LIBUSB_HOTPLUG_ENUMERATE, kRt50VendorId, kRt50ProductId,
                                         LIBUSB_HOTPLUG_MATCH_ANY, OnArrived, nullptr,
                                         &registry.arrivedHandle) != LIBUSB_SUCCESS ||
        libusb_hotplug_register_callback(registry.context, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                         LIBUSB_HOTPLUG_NO_FLAGS, kRt50VendorId, kRt50ProductId,
                                         LIBUSB_HOTPLUG_MATCH_ANY, OnLeft, nullptr,
                                         &registry.leftHandle) != LIBUSB_SUCCESS) {
        libusb_exit(registry.context);
        registry.context = nullptr;
        return false;
    }
    ShowFirmwareVersions(registry);
    registry.thread = std::thread(RunRegistry, &registry);
    registry.started = true;
    return true;
}

void StopPrinterRegistry()
{
    Registry& registry = TheRegistry();
    if (!registry.started)
        return;
    registry.stop = true;
    libusb_interrupt_event_handler(registry.context);
    registry.thread.join();
    StopJobQueue();
    libusb_hotplug_deregister_callback(registry.context, registry.arrivedHandle);
    libusb_hotplug_deregister_callback(registry.context, registry.leftHandle);
    std::map<std::string, std::shared_ptr<AttachedPrinter>> printers;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        printers.swap(registry.printers);
    }
    // The thread has ended: the news and retries are no one's now.
    registry.news.Clear();
    for (libusb_device* device : registry.retries)
        libusb_unref_device(device);
    registry.retries.clear();
    for (auto& entry : printers) {
        entry.second->SetPrinter(nullptr);
        entry.second->DetachAll();
    }
    printers.clear();
    libusb_exit(registry.context);
    registry.context = nullptr;
    registry.started = false;
}

