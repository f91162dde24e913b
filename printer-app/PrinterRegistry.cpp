#include "PrinterRegistry.h"

#include "AppStop.h"
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
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct Registry {
    std::mutex mutex;  // printers, hot-plug news, retries, remakes, deleted
    std::map<std::string, std::shared_ptr<AttachedPrinter>> printers;
    std::set<std::string> deleted;          // serials whose printer was deleted while attached
    std::deque<libusb_device*> arrivals;    // referenced
    std::deque<libusb_device*> departures;  // referenced
    std::vector<libusb_device*> retries;    // arrived, not yet usable (referenced)
    pappl_system_t* system = nullptr;
    RegistrySettings settings;
    libusb_context* context = nullptr;
    libusb_hotplug_callback_handle arrivedHandle = 0;
    libusb_hotplug_callback_handle leftHandle = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> ran{false};           // the system has been seen running
    std::atomic<unsigned> deletions{0};     // printers deleted so far
    std::thread::id mainThread;             // where PAPPL ends the system
    std::vector<int> remakes;               // ids of printers added by hand, to make again
    bool started = false;
};

// Set while the registry deletes a printer it makes again, and while it
// makes one.
thread_local bool t_remaking = false;
thread_local bool t_adding = false;

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

int OnArrived(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.arrivals.push_back(libusb_ref_device(device));
    return 0;
}

int OnLeft(libusb_context*, libusb_device* device, libusb_hotplug_event, void*)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.departures.push_back(libusb_ref_device(device));
    return 0;
}

// Adds the printer of an RT-50. PAPPL 1.3 gives a printer made while the
// system runs the printer-id attribute 0 (its real id comes later); made
// again with the id it got, the printer says its id from the start.
pappl_printer_t* AddPrinter(Registry& registry, const std::string& name, const char* deviceId, const char* uri)
{
    t_adding = true;
    pappl_printer_t* printer = papplPrinterCreate(registry.system, 0, name.c_str(), kRt50DriverName, deviceId, uri);
    if (printer == nullptr) {
        t_adding = false;
        return nullptr;
    }
    const int id = papplPrinterGetID(printer);
    t_remaking = true;
    papplPrinterDelete(printer);
    t_remaking = false;
    printer = papplPrinterCreate(registry.system, id, name.c_str(), kRt50DriverName, deviceId, uri);
    t_adding = false;
    if (printer == nullptr)
        return nullptr;
    // PAPPL announces a printer made while it runs only at its next
    // DNS-SD change: this is one.
    char dnssdName[256];
    if (papplPrinterGetDNSSDName(printer, dnssdName, sizeof dnssdName) != nullptr)
        papplPrinterSetDNSSDName(printer, dnssdName);
    return printer;
}

// Finds or makes the PAPPL printer of an attached printer and tells it about it.
void EnsurePrinter(Registry& registry, AttachedPrinter& attached)
{
    char uri[256];
    if (!Rt50DeviceUri(attached.Serial(), uri, sizeof uri))
        return;
    {
        // A printer deleted while its RT-50 stays plugged in comes back
        // only when the RT-50 is plugged in again.
        std::lock_guard<std::mutex> lock(registry.mutex);
        if (registry.deleted.count(attached.Serial()) != 0)
            return;
    }
    const unsigned deletions = registry.deletions;
    pappl_printer_t* printer = papplSystemFindPrinter(registry.system, nullptr, 0, uri);
    if (printer == nullptr) {
        const PrinterFacts facts = attached.Facts();
        const std::string name = PrinterNameForSerial(attached.Serial());
        printer = AddPrinter(registry, name, facts.deviceId.c_str(), uri);
        if (printer == nullptr) {
            papplLog(registry.system, PAPPL_LOGLEVEL_ERROR, "Unable to add the printer for RT-50 %s.",
                     attached.Serial().c_str());
            return;
        }
        papplLog(registry.system, PAPPL_LOGLEVEL_INFO, "Added printer \"%s\" for RT-50 %s.", name.c_str(),
                 attached.Serial().c_str());
    }
    attached.SetPrinter(printer);
    // A printer deleted meanwhile may be the one found: found again at
    // the next poll.
    if (registry.deletions != deletions) {
        attached.SetPrinter(nullptr);
        return;
    }
    attached.ShowLastPoll();
    if (registry.settings.printerShown != nullptr)
        attached.UsePrinter([&](pappl_printer_t* shown) { registry.settings.printerShown(shown, attached); });
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
    papplLog(registry.system, PAPPL_LOGLEVEL_INFO, "RT-50 %s arrived (firmware %s).", found.serial.c_str(), firmware);
    ShowFirmwareVersions(registry);
    // Polled first, so that the printer shows the media loaded from the
    // moment clients see it.
    attached->Poll();
    EnsurePrinter(registry, *attached);
    return true;
}

void HandleQueued(Registry& registry, bool retryNow)
{
    std::deque<libusb_device*> arrivals, departures;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        arrivals.swap(registry.arrivals);
        departures.swap(registry.departures);
        if (retryNow) {
            arrivals.insert(arrivals.end(), registry.retries.begin(), registry.retries.end());
            registry.retries.clear();
        }
    }
    for (libusb_device* device : departures) {
        for (const auto& attached : AllAttachedPrinters())
            attached->Detach(device);
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto it = registry.retries.begin(); it != registry.retries.end(); ++it) {
            if (*it == device) {
                libusb_unref_device(*it);
                registry.retries.erase(it);
                break;
            }
        }
        for (auto it = arrivals.begin(); it != arrivals.end(); ++it) {
            if (*it == device) {
                libusb_unref_device(*it);
                arrivals.erase(it);
                break;
            }
        }
    }
    for (libusb_device* device : departures)
        libusb_unref_device(device);
    for (libusb_device* device : arrivals) {
        if (TakeArrival(registry, device)) {
            libusb_unref_device(device);
        } else {
            std::lock_guard<std::mutex> lock(registry.mutex);
            registry.retries.push_back(device);
        }
    }
}

// The "<name>-default" values of the driver's own settings, as options
// named "<name>" (as papplPrinterSetDriverDefaults takes them).
int VendorDefaults(pappl_printer_t* printer, const pappl_pr_driver_data_t& data, cups_option_t** options)
{
    int count = 0;
    ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
    for (int i = 0; i < data.num_vendor; ++i) {
        const std::string name = std::string(data.vendor[i]) + "-default";
        ipp_attribute_t* attr = ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO);
        char value[256];
        if (attr != nullptr && ippAttributeString(attr, value, sizeof value) > 0)
            count = cupsAddOption(data.vendor[i], value, count, options);
    }
    ippDelete(attrs);
    return count;
}

// Makes a printer added by hand again with the id PAPPL gave it, with its
// settings; left as it is once it has a job (new jobs are refused while it
// is made again).
void RemakeWithId(Registry& registry, int id)
{
    pappl_printer_t* printer = papplSystemFindPrinter(registry.system, nullptr, id, nullptr);
    if (printer == nullptr)
        return;
    const bool accepting = papplPrinterIsAcceptingJobs(printer);
    papplPrinterDisable(printer);
    if (papplPrinterGetNumberOfJobs(printer) > 0) {
        if (accepting)
            papplPrinterEnable(printer);
        return;
    }
    const std::string name = papplPrinterGetName(printer);
    const std::string driver = papplPrinterGetDriverName(printer);
    const std::string uri = papplPrinterGetDeviceURI(printer);
    const char* idText = papplPrinterGetDeviceID(printer);
    const std::string deviceId = idText != nullptr ? idText : "";
    char dnssdName[256] = "", location[256] = "", geoLocation[256] = "", organization[256] = "",
         unit[256] = "", group[256] = "";
    papplPrinterGetDNSSDName(printer, dnssdName, sizeof dnssdName);
    papplPrinterGetLocation(printer, location, sizeof location);
    papplPrinterGetGeoLocation(printer, geoLocation, sizeof geoLocation);
    papplPrinterGetOrganization(printer, organization, sizeof organization);
    papplPrinterGetOrganizationalUnit(printer, unit, sizeof unit);
    papplPrinterGetPrintGroup(printer, group, sizeof group);
    pappl_contact_t contact {};
    papplPrinterGetContact(printer, &contact);
    const int maxActive = papplPrinterGetMaxActiveJobs(printer);
    const int maxCompleted = papplPrinterGetMaxCompletedJobs(printer);
    const int maxPreserved = papplPrinterGetMaxPreservedJobs(printer);
    pappl_pr_driver_data_t data;
    if (papplPrinterGetDriverData(printer, &data) == nullptr)
        return;
    cups_option_t* vendor = nullptr;
    const int vendorCount = VendorDefaults(printer, data, &vendor);

    t_remaking = true;
    papplPrinterDelete(printer);
    t_remaking = false;
    t_adding = true;
    printer = papplPrinterCreate(registry.system, id, name.c_str(), driver.c_str(), deviceId.c_str(), uri.c_str());
    t_adding = false;
    if (printer == nullptr) {
        cupsFreeOptions(vendorCount, vendor);
        papplLog(registry.system, PAPPL_LOGLEVEL_ERROR, "Unable to make printer \"%s\" again.", name.c_str());
        return;
    }
    papplPrinterSetDriverDefaults(printer, &data, vendorCount, vendor);
    cupsFreeOptions(vendorCount, vendor);
    papplPrinterSetReadyMedia(printer, data.num_source, data.media_ready);
    papplPrinterSetLocation(printer, location);
    papplPrinterSetGeoLocation(printer, geoLocation[0] != '\0' ? geoLocation : nullptr);
    papplPrinterSetOrganization(printer, organization);
    papplPrinterSetOrganizationalUnit(printer, unit);
    papplPrinterSetContact(printer, &contact);
    if (group[0] != '\0')
        papplPrinterSetPrintGroup(printer, group);
    papplPrinterSetMaxActiveJobs(printer, maxActive);
    papplPrinterSetMaxCompletedJobs(printer, maxCompleted);
    papplPrinterSetMaxPreservedJobs(printer, maxPreserved);
    // A change of the DNS-SD name is what announces it (as AddPrinter).
    papplPrinterSetDNSSDName(printer, dnssdName[0] != '\0' ? dnssdName : name.c_str());
    if (!accepting)
        papplPrinterDisable(printer);
    papplLog(registry.system, PAPPL_LOGLEVEL_INFO, "Printer \"%s\" has printer-id %d.", name.c_str(), id);
}

void RemakePrintersAddedByHand(Registry& registry)
{
    std::vector<int> ids;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        ids.swap(registry.remakes);
    }
    for (int id : ids)
        RemakeWithId(registry, id);
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
        for (libusb_device* device : registry.arrivals)
            libusb_unref_device(device);
        for (libusb_device* device : registry.departures)
            libusb_unref_device(device);
        for (libusb_device* device : registry.retries)
            libusb_unref_device(device);
        registry.arrivals.clear();
        registry.departures.clear();
        registry.retries.clear();
    }
    for (auto& entry : printers) {
        entry.second->SetPrinter(nullptr);
        entry.second->DetachAll();
    }
    printers.clear();
    libusb_exit(registry.context);
    registry.context = nullptr;
    registry.started = false;
}

namespace {

// The printers a client's thread added by hand: the request that made one
// goes on using it (its attributes, the answer, the redirect), so they are
// handed to the hot-plug thread when the client's thread ends.
struct HandAdded {
    std::vector<int> ids;
    ~HandAdded()
    {
        if (ids.empty())
            return;
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.remakes.insert(registry.remakes.end(), ids.begin(), ids.end());
    }
};
thread_local HandAdded t_handAdded;

}  // namespace

void PrinterCreated(pappl_printer_t* printer)
{
    Registry& registry = TheRegistry();
    // The state file's printers come with their ids, before the system runs.
    if (t_adding || !registry.started || !registry.ran)
        return;
    t_handAdded.ids.push_back(papplPrinterGetID(printer));
}

void PrinterDeleted(pappl_printer_t* printer)
{
    Registry& registry = TheRegistry();
    // PAPPL ends the system on its main thread once it has run: it frees
    // the system right after, so the hot-plug thread and every sheet stop
    // first.
    if (registry.started && registry.ran && std::this_thread::get_id() == registry.mainThread) {
        StopAllSheets();
        StopPrinterRegistry();
        return;
    }
    if (!t_remaking)
        ++registry.deletions;
    for (const auto& attached : AllAttachedPrinters()) {
        if (attached->Printer() != printer)
            continue;
        attached->SetPrinter(nullptr);
        if (!t_remaking && attached->Online()) {
            std::lock_guard<std::mutex> lock(registry.mutex);
            registry.deleted.insert(attached->Serial());
        }
    }
}
