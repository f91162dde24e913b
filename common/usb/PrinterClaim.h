// Taking and giving back an RT-50: opening it, claiming its interface 0
// from a kernel printer driver, resetting its command stream, and telling
// whether it has left the bus. Every program that talks to the printer
// takes it this way; one program holds the claim at a time.
#pragma once

#include <libusb.h>

// Claims interface 0. A kernel driver is detached only when
// libusb_kernel_driver_active reports 1; any other error of that check (or
// of the detach) is returned without claiming. 0, or a libusb error
// (LIBUSB_ERROR_BUSY while another program holds the printer).
int ClaimPrinter(libusb_device_handle* handle);

// Opens `device` and claims its interface 0 into *handle. 0, or a libusb
// error with *handle null (a handle that could not be claimed is closed).
int OpenPrinter(libusb_device* device, libusb_device_handle** handle);

// Releases interface 0 and closes the handle; nothing for null.
void ReleasePrinter(libusb_device_handle* handle);

// The printer-class SOFT_RESET request: the printer forgets the packet it
// was receiving, an unread reply and the sheet not yet started (sheets it
// has accepted stay), and clears halted endpoints. For a printer left
// inside a command by a client that died or gave up. 0 or a libusb error.
int SoftResetPrinter(libusb_device_handle* handle);

// True when the printer behind `handle` has left the bus (a null handle
// too): its GET_STATUS request fails with LIBUSB_ERROR_NO_DEVICE.
bool PrinterGone(libusb_device_handle* handle);
