// The USB side of one emulated RT-50: answers the usbdevfs requests that
// libusb sends to the printer's device node in the umockdev testbed.
//
// Requests arrive on umockdev's worker thread, one at a time for all
// devices; the handler never sleeps. A transfer that cannot finish at once
// (a read with no reply yet, a slow reply, a write the link or a full
// receive buffer holds up) stays queued; a timer on the worker thread
// finishes it when it is due, and the client reaps it.
#pragma once

#include "DeviceNode.h"
#include "PrinterModel.h"

#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

    // The printer leaves the bus: transfers in flight end with -ESHUTDOWN
    // (an OUT transfer keeps the count the printer took), every later
    // request fails with ENODEV, and the node reports the departure.
    // Harmless when it has left already.
    void Unplug();

    // Called when the printer leaves the bus by itself (fault
    // "unplugafter"), so that its owner removes it from the testbed. Runs
    // on the worker thread under the device's lock: it may only queue work.
    void SetDepartureHandler(std::function<void()> handler);

    // Makes the device node at `path` (see DeviceNode.h): with `quiet`, it
    // polls writable only while a finished transfer waits to be reaped, so
    // a client's event loop sleeps instead of spinning. False when no node
    // could be made.
    bool CreateNode(const std::string& path, bool quiet);

    // Transfers queued and not yet reaped (for tests).
    size_t PendingUrbs() const;

    // What the host did since the plug, for "show".
    struct Traffic {
        long outTransfers = 0;          // OUT transfers submitted
        std::vector<int> outSizes;      // sizes of the last kOutSizesKept of them
        bool haltedIn = false;          // endpoint halted until the host clears it
        bool haltedOut = false;
        size_t buffered = 0;            // bytes in the receive buffer
        DeviceNode::Kind node = DeviceNode::Kind::None;
    };
    enum { kOutSizesKept = 16 };
    Traffic GetTraffic();

private:
    struct Urb {
        UMockdevIoctlClient* client = nullptr;   // referenced
        UMockdevIoctlData* data = nullptr;       // the usbdevfs_urb, referenced
        UMockdevIoctlData* buffer = nullptr;     // its data buffer, referenced
        unsigned long address = 0;               // the URB's address in the client
        uint8_t type = 0;
        uint8_t endpoint = 0;
        int status = 0;
        int actual = 0;      // bytes moved (OUT: taken so far)
        bool done = false;
        bool hung = false;   // an OUT transfer the printer will never take
    };
    // A sheet accepted and not yet printed, and the bytes it holds.
    struct HeldSheet {
        int number = 0;
        size_t bytes = 0;
    };
    enum { kOut = 0, kIn = 1 };
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
    Clock::time_point PumpOut(Clock::time_point now);
    size_t BufferedBytes();
    void CollectSheets();
    void End();
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
    DeviceNode m_node;
    bool m_halted[2] = {false, false};   // kOut, kIn
    std::function<void()> m_departed;

    // Bulk OUT: the link's byte credit (a token bucket refilled at the
    // printer's rate), the sheets in the receive buffer, a pending
    // departure, and the transfer log.
    double m_credit = 0;
    Clock::time_point m_creditAt{};
    std::deque<HeldSheet> m_held;
    long m_unplugBudget = -1;
    long m_outTransfers = 0;
    std::deque<int> m_outSizes;

    GMainContext* m_context = nullptr;   // umockdev's worker context
    GSource* m_timer = nullptr;  // wakes a client waiting for a slow reply
    Clock::time_point m_timerAt{};
};

}  // namespace rt50emu
