// Finding RT-50s on USB: which attached devices are RT-50s (as the daemon
// identifies them: USB IDs, product string, device ID) and what serial
// number each reports.
#pragma once

#include <libusb.h>

#include <string>
#include <vector>

namespace vantora_backend {

// One attached RT-50.
struct ProbedPrinter {
    std::string serial;     // as the printer answers INFO SERIAL_NUMBER, or (busy) its USB serial string
    std::string deviceId;   // IEEE 1284 device ID
    std::string model;      // from the device ID, e.g. "RT-50"
    bool busy = false;      // another program holds its interface
    bool serialValid = false;  // the serial may name files and URIs (IsValidSerial)
};

// Opens `device` and, for an RT-50, fills `printer`. With `handleOut`
// non-null and the interface free, the device stays open and its interface
// 0 claimed in *handleOut (the caller releases and closes it); otherwise it
// is closed again. Returns 0 for an RT-50 (its serial asked of the printer
// when the interface could be claimed; a printer that does not answer, left
// inside a command by a client that died, gets a soft reset and is asked
// again), 1 for a device that is no RT-50, or a
// libusb error (for example LIBUSB_ERROR_NO_DEVICE when it has just left).
int ProbePrinter(libusb_device* device, ProbedPrinter* printer, libusb_device_handle** handleOut);

// Every attached RT-50, in bus order.
std::vector<ProbedPrinter> ListPrinters(libusb_context* context);

// The discovery line CUPS reads from a backend run without arguments
// (backend(7)): class, device URI, make and model, description with the
// serial number, device ID and location. Empty for a printer whose serial
// cannot name a URI. Text from the printer is made safe for the quotes.
std::string DiscoveryLine(const ProbedPrinter& printer);

// Claims interface 0, detaching a kernel printer driver that holds it.
// 0 or a libusb error (LIBUSB_ERROR_BUSY while another program holds it).
int ClaimPrinter(libusb_device_handle* handle);

// The printer class SOFT_RESET request: the printer forgets the packet it
// was receiving, an unread reply and the sheet not yet started (sheets it
// has accepted stay), and clears halted endpoints. 0 or a libusb error.
int SoftResetPrinter(libusb_device_handle* handle);

// Releases interface 0 and closes the handle; harmless on null.
void ReleasePrinter(libusb_device_handle* handle);

}  // namespace vantora_backend
