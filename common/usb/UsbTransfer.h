// USB transfers to and from the RT-50: command packets out on the bulk OUT
// endpoint, reply packets in on the bulk IN endpoint, and the IEEE 1284
// device ID. Shared by the USB monitor daemon, the CUPS backend and the
// printer application; every function takes an open handle whose interface 0
// the caller has claimed.
//
// Results of the transfer functions, like libusb's enum libusb_error:
//
//   0                      success (kProtoOk)
//   LIBUSB_ERROR_* (< 0)   passed on unchanged from the transfer that failed:
//                          LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_PIPE (halted
//                          endpoint), LIBUSB_ERROR_NO_DEVICE (unplugged), ...
//   2 (kProtoNoMemory)     out of memory
//   3 (kProtoInvalid)      invalid argument, or a malformed reply
//
// The queries of PrinterQueries.h build on these and return the value's
// length or -1 (GetStatus: the status code or kStatusFailed).
#pragma once

#include "CommandPackets.h"
#include "ReplyPackets.h"

#include <libusb.h>

#include <cstddef>
#include <cstdint>

// USB identity and endpoints of the RT-50.
enum : uint16_t {
    kRt50VendorId = 0x3A7F,
    kRt50ProductId = 0x000C,
};
enum : int { kRt50Interface = 0 };
enum : unsigned char {
    kRt50EndpointOut = 0x01,   // command packets and job data
    kRt50EndpointIn = 0x82,    // reply packets
};

// The printer-class requests: GET_DEVICE_ID (class, interface, device to
// host) and SOFT_RESET (class, interface, host to device).
enum : uint8_t {
    kDeviceIdRequestType = 0xA1,
    kDeviceIdRequest = 0,
    kSoftResetRequestType = 0x21,
    kSoftResetRequest = 2,
};

// Time limits of the transfers, process-wide. The defaults are the ones the
// daemon works with; tests shorten them so that a silent printer does not
// cost them ten seconds per transfer.
struct UsbTimeouts {
    unsigned int bulkMs = 10000;       // each bulk transfer
    unsigned int deviceIdMs = 5000;    // the device ID request and the other control requests
    unsigned int replyWaitMs = 10000;  // DeviceIO_T's wait between command and reply
};
UsbTimeouts GetUsbTimeouts();
void SetUsbTimeouts(const UsbTimeouts& timeouts);

// Sends `length` bytes to the bulk OUT endpoint in transfers of at most
// 65536 bytes, keeping the last 256 bytes of anything of 512 bytes or more
// for a transfer of their own (1000 bytes go out as 744 + 256). Stops at the
// first failing transfer. 0, a libusb error, or 3 for a null handle or data or
// a length below 1.
int deviceWrite(libusb_device_handle* handle, const void* data, int length);

// The same with a time-out of the caller's choice per transfer (0: no limit,
// as libusb) and the count of bytes the printer actually took, also when a
// transfer fails part-way (time-out, unplug): bytes beyond *sent were not
// delivered. For job data; `sent` may be null.
int deviceWrite(libusb_device_handle* handle, const void* data, int length, int* sent,
                unsigned int timeoutMs);

// Sends the command's packet. 3 for a null or empty command.
int deviceWrite(libusb_device_handle* handle, DeviceCmd* command);

// Reads one reply packet into `buffer` (`length` bytes): the 8-digit header
// first, then the data length it announces. *received (may be null) gets the
// bytes read, header included, or 0 on failure. 3 for a header that is short,
// not 8 digits, announces 0 bytes or more than `length` - 8 (checked before
// the data are read), or a bad argument.
int deviceRead(libusb_device_handle* handle, void* buffer, int length, int* received);

// Reads the reply `reply` expects into a fresh buffer of its own (Free, then
// Alloc, whose 2 is passed on).
int deviceRead(libusb_device_handle* handle, DeviceRecv* reply);

// One exchange: sends the command and reads the reply. A send or read error
// is returned; otherwise the reply's CheckData verdict (0 or 3).
int DeviceIO(libusb_device_handle* handle, DeviceCmd* command, DeviceRecv* reply);

// As DeviceIO; when `wait` is set, waits GetUsbTimeouts().replyWaitMs (10 s)
// between the command and the reply, which a printer in power-saving mode
// needs before it answers its life counter.
int DeviceIO_T(libusb_device_handle* handle, DeviceCmd* command, DeviceRecv* reply, bool wait);

// One bulk transfer of `length` bytes to the OUT endpoint, or from the IN
// endpoint, with the bulk time-out; *count (may be null) gets the bytes moved,
// also on failure. 0, a libusb error, or 3 for a bad argument.
int USB_Write(libusb_device_handle* handle, const void* data, int length, int* count);
int USB_Read(libusb_device_handle* handle, void* data, int length, int* count);

// Fetches the IEEE 1284 device ID into `buffer` (`size` bytes) as a
// NUL-terminated string without its two length bytes, asking for at most
// 4096 bytes (the largest control transfer libusb makes on Linux). 0 on
// success; -1 on failure, with the buffer emptied (when it has room for that).
int get_device_id(libusb_device_handle* handle, char* buffer, unsigned long size);

// The part of get_device_id that judges the reply: `buffer` holds the
// `received` bytes of a GET_DEVICE_ID answer (two length bytes, big-endian
// or, from some devices, little-endian, counting themselves, then the ID) in
// `size` bytes of room. Moves the ID to the start and terminates it, cut to
// what was received and to the buffer. 0, or -1 (buffer emptied) for a reply
// of 13 bytes or less by either reading of its length.
int UnpackDeviceId(char* buffer, size_t size, int received);
