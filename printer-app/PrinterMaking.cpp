// The PAPPL printers of the attached RT-50s: made when an RT-50 arrives,
// made again with their ids when added by hand (PAPPL 1.3), and let go of
// when deleted.
#include "RegistryState.h"

#include "AppStop.h"
#include "Rt50Uri.h"

#include <cups/cups.h>

#include <string>

namespace {

// Set while the registry deletes a printer it makes again, and while it
// makes one.
thread_local bool t_remaking = false;
thread_local bool t_adding = false;

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

}  // namespace

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

namespace {

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

}  // namespace

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
