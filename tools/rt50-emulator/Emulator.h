// A umockdev testbed holding emulated RT-50 printers, and the line commands
// that control them. Create it before any client calls libusb_init, and let
// the clients call libusb_exit before it is destroyed.
#pragma once

#include "PrinterModel.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace rt50emu {

class UsbDevice;

struct EmulatorOptions {
    std::string outputFolder;   // where printed sheets are recorded; empty: nowhere
    int printMs = 2000;         // printing time of one sheet for new printers
    long rate = EmulatedState().rate;   // bulk OUT bytes per second of new printers; 0: no limit
    // Device numbers run from 2 to this (at most 127) and then wrap; tests
    // make it small to reach the wrap in a few arrivals.
    int lastDevnum = 127;
    // Device nodes poll ready only when a transfer has finished, so idle
    // clients sleep, and report an unplug as usbfs does; false gives plain
    // files that are always ready.
    bool quietNodes = true;
};

class Emulator {
public:
    explicit Emulator(const EmulatorOptions& options);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // The testbed's root folder (what UMOCKDEV_DIR names for the clients).
    std::string RootDir() const;

    // Adds a printer with this serial number and plugs it in. Returns false
    // (and why in *error) for a bad or duplicate serial.
    bool AddPrinter(const std::string& serial, std::string* error = nullptr);

    // Plugs a printer in or pulls it out; false when it is not known or
    // already in that state.
    bool Plug(const std::string& serial);
    bool Unplug(const std::string& serial);

    // The printer's model (state, faults), or null for an unknown serial.
    std::shared_ptr<PrinterModel> Model(const std::string& serial) const;

    // Serial numbers in the order the printers were added.
    std::vector<std::string> Serials() const;

    // Runs one control line (see README.md) and returns the reply: any data
    // lines, then "OK" or "ERR <reason>", each ended by a line feed.
    std::string Execute(const std::string& line);

    // Set by the control command "quit".
    bool QuitRequested() const;

private:
    struct Printer;
    Printer* Find(const std::string& serial) const;
    bool PlugLocked(Printer& printer);
    bool UnplugLocked(Printer& printer);
    void PruneEventSockets();
    int NextDevnum();
    std::string Show(Printer& printer);
    // Printers that left the bus by themselves are taken off the testbed
    // on a thread of their own: the USB side cannot do it from umockdev's
    // worker thread.
    void RequestUnplug(UsbDevice* device);
    void RunDepartures();

    EmulatorOptions m_options;
    UMockdevTestbed* m_testbed = nullptr;
    mutable std::recursive_mutex m_mutex;
    std::vector<std::unique_ptr<Printer>> m_printers;
    std::vector<std::unique_ptr<UsbDevice>> m_retired;   // unplugged, kept for open handles
    int m_nextDevnum = 2;
    std::set<std::string> m_attached;   // device nodes with a handler attached
    bool m_quit = false;

    std::mutex m_departureMutex;        // guards the two below, never held with m_mutex
    std::condition_variable m_departureWake;
    std::vector<UsbDevice*> m_departures;
    bool m_stopping = false;
    std::thread m_departureThread;
};

}  // namespace rt50emu
