// Command and reply packets of the RT-50 command protocol.
//
// A command packet is a 32-byte ASCII header (ESC, 'P', 6-character command
// name, 16-character parameter name, 8-digit payload length) followed by an
// optional payload. A reply packet is an 8-digit length header followed by
// data whose text value ends at the first carriage return.
#pragma once

#include <cstddef>

// Result codes shared by the protocol layer.
enum {
    kProtoOk = 0,
    kProtoNoMemory = 2,
    kProtoInvalid = 3,
};

// Field geometry of a command packet.
enum {
    kCmdHeaderSize = 32,
    kCmdNameOffset = 2,
    kCmdNameWidth = 6,
    kCmdParamOffset = 8,
    kCmdParamWidth = 16,
    kCmdLengthOffset = 24,
    kCmdLengthWidth = 8,
};

// One command packet in a heap buffer that the object owns. The buffer is two
// bytes longer than the packet and those two bytes are 0, so a text payload
// can be treated as a C string.
class DeviceCmd {
public:
    DeviceCmd() = default;
    ~DeviceCmd() { Free(); }
    DeviceCmd(const DeviceCmd&) = delete;
    DeviceCmd& operator=(const DeviceCmd&) = delete;

    // Builds a new packet, discarding any previous one. A payload is present
    // only when length > 0 and data is non-null; it needs a parameter name.
    // Returns 0 built, 2 out of memory, 3 a name or the payload does not fit
    // the format; after a non-zero result the object is empty.
    int MakeCmd(const char* name, const char* param, int length, const void* data);

    // Releases the packet; always 0, harmless on an empty object.
    int Free();

    const unsigned char* GetBuffer() const { return m_buffer; }
    int GetLength() const { return m_length; }

private:
    int Fail(int result);

    unsigned char* m_buffer = nullptr;
    int m_length = 0;
};

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
    // terminated), cutting a longer value to fit. Returns 3 for a null or
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
