// Every RT-50 on the USB bus as a printer of the application: the hot-plug
// thread opens each arriving RT-50 (identified as the daemon does: USB IDs,
// product string, device ID, a serial number that may name files), keeps
// it claimed, adds a PAPPL printer for it when there is none, marks it
// offline when it leaves and takes it back when it returns. Idle printers
// are polled for status and media. The thread is PrinterRegistry.cpp; the
// making of PAPPL printers (PrinterCreated, PrinterDeleted and PAPPL 1.3's
// printer-id workaround) is PrinterMaking.cpp.
#pragma once

#include "AttachedPrinter.h"
#include "Rt50Uri.h"

#include <pappl/pappl.h>

#include <memory>
#include <string>
#include <vector>

// Registry settings; tests shorten the poll period.
struct RegistrySettings {
    unsigned int pollMs = 2000;   // status and media poll of idle printers
    // Called each time a printer is found or made for an attached RT-50,
    // with the PAPPL printer (valid during the call; PAPPL's system lock
    // must not be asked for); null: nothing. The system sets what the web
    // pages show of the printer.
    void (*printerShown)(pappl_printer_t* printer, const AttachedPrinter& attached) = nullptr;
};

// Starts the hot-plug thread for `system` (once; the system must stay
// until StopPrinterRegistry). False when libusb or its hot-plug support is
// missing.
bool StartPrinterRegistry(pappl_system_t* system, const RegistrySettings& settings);

// Ends the thread and releases every printer.
void StopPrinterRegistry();

// The attached printer with this serial number; null when that printer
// never arrived.
std::shared_ptr<AttachedPrinter> FindAttachedPrinter(const std::string& serial);

// The attached printer with this serial number, made (offline) when the
// printer has not arrived yet, so that a job can wait for it; null for a
// serial that IsValidSerial refuses.
std::shared_ptr<AttachedPrinter> PrinterForSerial(const std::string& serial);

// Every printer that arrived so far.
std::vector<std::shared_ptr<AttachedPrinter>> AllAttachedPrinters();

// A PAPPL printer is being deleted (the driver's delete callback, which
// runs under PAPPL's system lock: nothing here asks for it). Its attached
// printer lets go of it, waiting for any use of it to end; a printer deleted while its
// RT-50 is attached stays deleted until the RT-50 is plugged in again (or
// the application starts again). When PAPPL ends the system, the hot-plug
// thread and every sheet are stopped instead.
void PrinterDeleted(pappl_printer_t* printer);

// A PAPPL printer was made (the system's creation callback). PAPPL 1.3
// gives a printer made while the system runs the printer-id attribute 0
// until the next start: one added by hand (the add command, the web form,
// Create-Printer) is made again with its id, settings kept, by the hot-plug
// thread once the client that added it has gone, as long as it has no job
// yet.
void PrinterCreated(pappl_printer_t* printer);
