// The registry's own state, shared by its hot-plug thread
// (PrinterRegistry.cpp) and the making of PAPPL printers
// (PrinterMaking.cpp); nothing else includes this file.
#pragma once

#include "HotplugQueue.h"
#include "PrinterRegistry.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct Registry {
    std::mutex mutex;  // printers, remakes, deleted
    std::map<std::string, std::shared_ptr<AttachedPrinter>> printers;
    std::set<std::string> deleted;          // serials whose printer was deleted while attached
    HotplugQueue news;                      // arrivals and departures not yet acted on
    std::vector<libusb_device*> retries;    // arrived, not yet usable (referenced; the thread's own)
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

// The one registry of the process.
Registry& TheRegistry();

// Finds or makes the PAPPL printer of an attached printer and tells it
// about it (and the system, RegistrySettings::printerShown). On the
// hot-plug thread.
void EnsurePrinter(Registry& registry, AttachedPrinter& attached);

// Makes the printers added by hand since the last call again with their
// ids (PrinterCreated). On the hot-plug thread.
void RemakePrintersAddedByHand(Registry& registry);
