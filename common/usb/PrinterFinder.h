// Finding the RT-50s on the bus: which attached devices are RT-50s (as
// IdentifyRt50 checks them), what serial number each has, and opening the
// one with a given serial number.
#pragma once

#include <libusb.h>

#include <string>
#include <vector>

// One attached RT-50.
struct FoundPrinter {
    std::string serial;        // as the printer answers INFO SERIAL_NUMBER, else its USB serial string
    std::string deviceId;      // IEEE 1284 device ID
    std::string model;         // from the device ID, e.g. "RT-50"
    bool busy = false;         // another program holds its interface
    bool serialValid = false;  // the serial may name files and URIs (IsValidSerial)
};

// How ProbePrinter learns the serial number.
enum class SerialSource {
    kAskPrinter,   // claim interface 0 and ask the printer (its USB serial string while another program holds it)
    kUsbString,    // the USB serial string only, without a claim (another program may hold the printer)
};

// Results of ProbePrinter besides 0 (an RT-50) and the libusb errors.
enum : int { kNotRt50 = 1 };

// Opens `device` and, for an RT-50, fills `printer`. With kAskPrinter and
// the interface free, the printer's command stream is reset first (a
// client that died may have left it inside a command) and its serial
// number asked, up to three times. With `handle` non-null, a printer that
// answered its serial number stays open and claimed in *handle (the caller
// releases it with ReleasePrinter); otherwise it is closed again. Returns
// 0 for an RT-50, kNotRt50, or a libusb error (LIBUSB_ERROR_NO_DEVICE when
// it has just left, LIBUSB_ERROR_IO when it gave no device ID).
int ProbePrinter(libusb_device* device, SerialSource source, FoundPrinter* printer, libusb_device_handle** handle);

// Every attached RT-50, in bus order.
std::vector<FoundPrinter> ListPrinters(libusb_context* context, SerialSource source);

// Outcome of OpenPrinterBySerial.
enum class Lookup {
    kOpened,   // found, opened and claimed
    kAbsent,   // no attached RT-50 has this serial number
    kBusy,     // it is there, but another program holds it
};

// Looks over the bus for the RT-50 with this serial number and opens and
// claims it into *handle (null unless kOpened). A printer that holds its
// interface free is asked for its serial number; one that is busy is
// recognised by its USB serial string.
Lookup OpenPrinterBySerial(libusb_context* context, const std::string& serial, libusb_device_handle** handle);
