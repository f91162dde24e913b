#include "Rt50Scheme.h"

#include "AppStop.h"
#include "PrinterRegistry.h"

#include <pappl/pappl.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace {

// What an open device holds: the attached printer, kept alive while the device is open.
struct OpenDevice {
    std::shared_ptr<AttachedPrinter> attached;
};

// The devices this scheme opened: another scheme's device data is never
// taken for ours.
std::mutex g_openMutex;
std::set<const void*> g_open;

// Lists the RT-50s that arrived; only these, never the network.
bool ListDevices(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*)
{
    for (const auto& attached : AllAttachedPrinters()) {
        char uri[256];
        if (!Rt50DeviceUri(attached->Serial(), uri, sizeof uri))
            continue;
        const PrinterFacts facts = attached->Facts();
        const std::string info = "VANTORA RT-50 (" + attached->Serial() + ")";
        if (cb(info.c_str(), uri, facts.deviceId.c_str(), data))
            return true;
    }
    return false;
}

bool OpenDeviceCb(pappl_device_t* device, const char* uri, const char*)
{
    const std::string serial = SerialInRt50Uri(uri);
    if (serial.empty()) {
        papplDeviceError(device, "Not an RT-50 device URI.");
        return false;
    }
    // A printer that is not plugged in is waited for by the job itself,
    // which the application's stop and a cancel end at once.
    std::shared_ptr<AttachedPrinter> attached = PrinterForSerial(serial);
    if (!attached || AppStopping()) {
        papplDeviceError(device, "RT-50 %s is not available.", serial.c_str());
        return false;
    }
    if (!attached->BeginJob()) {
        papplDeviceError(device, "RT-50 %s is busy.", serial.c_str());
        return false;
    }
    OpenDevice* open = new OpenDevice{attached};
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open.insert(open);
    }
    papplDeviceSetData(device, open);
    return true;
}

void CloseDeviceCb(pappl_device_t* device)
{
    OpenDevice* open = static_cast<OpenDevice*>(papplDeviceGetData(device));
    if (open == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open.erase(open);
    }
    open->attached->EndJob();
    delete open;
    papplDeviceSetData(device, nullptr);
}

ssize_t ReadDeviceCb(pappl_device_t*, void*, size_t)
{
    // Replies belong to the attached printer's queries; a raw reader would take
    // them away from it.
    return -1;
}

ssize_t WriteDeviceCb(pappl_device_t*, const void*, size_t)
{
    // Sheets go whole through AttachedPrinter::PrintSheet; raw bytes could
    // cut a packet or double a sheet. Nothing of PAPPL's writes to the
    // device itself: the driver's raw-file callback refuses the document.
    return -1;
}

pappl_preason_t StatusDeviceCb(pappl_device_t* device)
{
    OpenDevice* open = static_cast<OpenDevice*>(papplDeviceGetData(device));
    if (open == nullptr)
        return PAPPL_PREASON_OTHER;
    const PrinterFacts facts = open->attached->Facts();
    return facts.online ? ReasonsForStatus(facts.status) : static_cast<pappl_preason_t>(PAPPL_PREASON_OFFLINE);
}

char* IdDeviceCb(pappl_device_t* device, char* buffer, size_t size)
{
    OpenDevice* open = static_cast<OpenDevice*>(papplDeviceGetData(device));
    if (open == nullptr || buffer == nullptr || size == 0)
        return nullptr;
    const PrinterFacts facts = open->attached->Facts();
    if (facts.deviceId.empty() || facts.deviceId.size() >= size)
        return nullptr;
    std::memcpy(buffer, facts.deviceId.c_str(), facts.deviceId.size() + 1);
    return buffer;
}

}  // namespace

void RegisterRt50Scheme()
{
    // Registered before any other device call, ours stays the only scheme:
    // PAPPL adds its own (file, socket, USB, DNS-SD, SNMP) only to an empty
    // list.
    papplDeviceAddScheme(kRt50Scheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, ListDevices, OpenDeviceCb, CloseDeviceCb,
                         ReadDeviceCb, WriteDeviceCb, StatusDeviceCb, IdDeviceCb);
}

AttachedPrinter* AttachedPrinterOfDevice(pappl_device_t* device)
{
    if (device == nullptr)
        return nullptr;
    void* data = papplDeviceGetData(device);
    std::lock_guard<std::mutex> lock(g_openMutex);
    if (g_open.count(data) == 0)
        return nullptr;
    return static_cast<OpenDevice*>(data)->attached.get();
}
