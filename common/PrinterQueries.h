// The printer's information, one query each: a command packet out, one reply
// packet in (UsbTransfer.h). The string queries copy the reply's text value,
// as the printer sends it, into the caller's buffer, cut to its size and
// always terminated; they return the length of what was written, or -1 when
// the exchange failed (the buffer then holds the empty string). No query
// retries: that is the caller's business.
#pragma once

#include <libusb.h>

#include <cstddef>
#include <cstdint>

// Size of the value buffers every caller keeps (serial number, media, ...).
constexpr size_t kQueryValueSize = 64;

// GetStatus's result when the exchange failed: outside the range of the
// 32-bit status codes a reply can carry.
constexpr int64_t kStatusFailed = 0x80000000LL;

// The printer's status code (0 waiting, 1 printing, 1000 door open, ...), or
// kStatusFailed.
int64_t GetStatus(libusb_device_handle* handle);

// Serial number, loaded media size, media class, prints of a new media set,
// prints remaining, half-size prints remaining, firmware version.
int GetSerialNo(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetMediaSize(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetMediaClass(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetMediaInitial(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetMediaRemain(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetMediaRemainHalf(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);
int GetFirmVersion(libusb_device_handle* handle, char* value, size_t size = kQueryValueSize);

// The life counter. With `wait` set, the reply is read only after
// GetUsbTimeouts().replyWaitMs (10 s): a printer in power-saving mode needs
// that long before it answers this one.
int GetTotalCount(libusb_device_handle* handle, char* value, bool wait,
                  size_t size = kQueryValueSize);
