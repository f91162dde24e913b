// Reply packets of the RT-50 command protocol: the one reader of what the
// printer answers on its bulk IN endpoint.
//
// A reply packet is an 8-digit ASCII length header followed by that many data
// bytes; a text value ends at the first carriage return.
#pragma once

#include "ProtocolResult.h"

#include <cstddef>

// The data length announced by the 8 header bytes of a reply read into a
// buffer of `bufferLength` bytes (header included): 1 .. bufferLength - 8.
// Returns -1 when the header is not 8 ASCII digits, announces no data, or
// announces more than the buffer holds after its header.
int _ReplyDataLength(const unsigned char* header, int bufferLength);

// Expected shape of one reply, and the buffer it is read into.
class DeviceRecv {
public:
    enum {
        kHeaderSize = 8,
        kVariableArea = 4096,   // header and data of a variable-length reply
        kPrefixCapacity = 32,   // longest expected prefix, with its NUL
    };

    // expectedLength: 0 no reply, -1 variable length, N > 0 exactly N data
    // bytes. A prefix longer than kPrefixCapacity - 1 is cut. Allocates nothing.
    DeviceRecv(int expectedLength, const char* prefix);
    ~DeviceRecv() { Free(); }
    DeviceRecv(const DeviceRecv&) = delete;
    DeviceRecv& operator=(const DeviceRecv&) = delete;

    // Bytes the reader may fill: 0, 4096 or N + 8.
    int GetBufferLength() const;

    // Replaces any buffer by a zero-filled one two bytes longer than
    // GetBufferLength(). Returns 0, or 2 when memory is exhausted.
    int Alloc();

    // Releases the buffer; always 0.
    int Free();

    // Judges the reply now in the buffer: 0 acceptable, 3 malformed.
    int CheckData() const;

    // Writes the reply's text value into dst (dstSize bytes, always
    // terminated), cutting a longer value to fit. A NUL byte inside the
    // value is written as '?', so that the text is never cut short unseen. Returns 3 for a null or
    // empty destination, otherwise 0 (also for an empty value).
    int GetEffectiveDataAsString(char* dst, size_t dstSize) const;

    unsigned char* GetBuffer() { return m_buffer; }
    const unsigned char* GetBuffer() const { return m_buffer; }
    int GetExpectedLength() const { return m_expected; }

private:
    unsigned char* m_buffer = nullptr;
    int m_expected = 0;
    char m_prefix[kPrefixCapacity] = {};
};
