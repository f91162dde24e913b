// The USB side of one emulated RT-50: answers the usbdevfs requests that
// libusb sends to the printer's device node in the umockdev testbed.
//
// Requests arrive on umockdev's worker thread, one at a time for all
// devices; the handler never sleeps. A transfer that cannot finish at once
// (a read with no reply yet, a slow reply) stays queued and is finished when
// the client next reaps, which libusb does as soon as its event loop runs.
#pragma once

#include "PrinterModel.h"

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;

namespace rt50emu {

// USB identity of the printer.
enum : uint16_t { kVendorId = 0x3A7F, kProductId = 0x000C };
extern const char kManufacturer[];

// The "descriptors" file of the device in sysfs: device descriptor followed
// by the configuration (one printer-class interface, bulk 0x01 OUT, 0x82 IN).
std::string DescriptorBytes();

class UsbDevice {
public:
    // Sheets the printer accepts are recorded in `outputFolder` (none when empty).
    UsbDevice(std::shared_ptr<PrinterModel> model, std::string outputFolder);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    // The umockdev handler to attach to the device node.
    UMockdevIoctlBase* Handler() const { return m_handler; }

    // The printer leaves the bus: transfers in flight end with -ESHUTDOWN,
    // every later request fails with ENODEV.
    void Unplug();

    // Makes the device node at `path` (a FIFO the caller has created) show
    // "writable" to poll() only while a finished transfer waits to be
    // reaped, so a client's event loop sleeps instead of spinning. Without
    // it the node is an ordinary file that is always ready. Returns false
    // when the FIFO cannot be opened.
    bool UseQuietNode(const std::string& path);

    // Transfers queued and not yet reaped (for tests).
    size_t PendingUrbs() const;

private:
    struct Urb {
        UMockdevIoctlClient* client = nullptr;   // referenced
        UMockdevIoctlData* data = nullptr;       // the usbdevfs_urb, referenced
        UMockdevIoctlData* buffer = nullptr;     // its data buffer, referenced
        unsigned long address = 0;               // the URB's address in the client
        uint8_t type = 0;
        uint8_t endpoint = 0;
        int status = 0;
        int actual = 0;
        bool done = false;
    };
    struct ClientState {
        bool claimed = false;
    };

    static int OnIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
    static void OnVanished(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);

    // Each returns the ioctl result; *error receives errno for a result of -1.
    long Ioctl(UMockdevIoctlClient* client, unsigned long request, int* error);
    long Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error);
    long Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error);
    long Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg, int* error);
    void Control(Urb& urb);
    void TryFinishRead(Urb& urb);
    void Release(Urb& urb);
    void UpdateFlow();
    void Forget(UMockdevIoctlClient* client);
    void Prune();
    void WakeAt(Clock::time_point when);
    static int OnTimer(void* self);
    ClientState& StateOf(UMockdevIoctlClient* client);

    std::shared_ptr<PrinterModel> m_model;
    std::string m_outputFolder;
    UMockdevIoctlBase* m_handler = nullptr;
    mutable std::mutex m_mutex;
    std::list<Urb> m_urbs;
    std::map<UMockdevIoctlClient*, ClientState> m_clients;   // keys referenced
    bool m_gone = false;
    int m_node = -1;                     // our end of the quiet node, or -1
    bool m_ready = true;                 // the node currently polls writable
    GMainContext* m_context = nullptr;   // umockdev's worker context
    GSource* m_timer = nullptr;  // wakes a client waiting for a slow reply
    Clock::time_point m_timerAt{};
};

}  // namespace rt50emu
