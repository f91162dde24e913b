// The printer's information, one query each: a command packet out, one reply
// packet in (UsbTransfer.h). The string queries copy the reply's text value,
// as the printer sends it, into the caller's buffer, cut to its size and
// always terminated; they return the length of what was written, or -1 when
// the exchange failed (the buffer then holds the empty string). No query
// retries: that is the caller's business.
#pragma once

#include "PrinterStatusCodes.h"

#include <libusb.h>

#include <cstddef>
#include <cstdint>

// Size of the value buffers every caller keeps (serial number, media, ...).
constexpr size_t kQueryValueSize = 64;

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

// The result of this thread's last exchange of a query above, in the
// convention of UsbTransfer.h (0, a libusb error such as LIBUSB_ERROR_PIPE
// for a halted endpoint or LIBUSB_ERROR_TIMEOUT, 2, 3), as libcups keeps its
// last error per thread. A query refused for a null handle leaves it as it was.
int LastQueryResult();

// The numbers in the answers above, as the status file cuts them: the
// media count of MQTY and MQTY_DEFAULT after four leading characters
// ("0000120": 120), the media code of INFO MEDIA after two ("00150": 150),
// the life counter of COUNTER_LIFE after two ("00000456": 456). -1 for a
// missing answer (null), one no longer than its leading characters, one
// with anything but digits, or a number of more than nine digits.
long MediaCountOfAnswer(const char* value);
long MediaCodeOfAnswer(const char* value);
long LifeCounterOfAnswer(const char* value);
