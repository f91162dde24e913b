// Command packets of the RT-50 command protocol: the one writer (DeviceCmd,
// and the header formatter it is built on) and the one reader
// (CommandPacketReader) of the bytes that go to the printer.
//
// A command packet is a 32-byte ASCII header (ESC, 'P', 6-character command
// name, 16-character parameter name, payload length as 8 decimal digits or 8
// blanks when there is no payload) followed by exactly that many payload
// bytes. Names are padded with blanks and not terminated.
#pragma once

#include "ProtocolResult.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Field geometry of a command packet.
enum {
    kCmdHeaderSize = 32,
    kCmdNameOffset = 2,
    kCmdNameWidth = 6,
    kCmdParamOffset = 8,
    kCmdParamWidth = 16,
    kCmdLengthOffset = 24,
    kCmdLengthWidth = 8,
    kCmdMaxPayload = 99999999,  // the most that 8 digits can announce
};

// Writes the 32 header bytes of a packet into `header`: ESC 'P', the name
// and the parameter (null: none) padded with blanks, and the payload length
// as "%08d", or 8 blanks when payloadLength is negative (no payload).
// Returns 0, or 3 when the name is null or longer than 6 characters, the
// parameter longer than 16, a payload has no parameter name, or the length
// does not fit 8 digits; the header bytes are then not to be sent.
int _FormatCmdHeader(unsigned char* header, const char* name, const char* param, int payloadLength);

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

// One packet as read back from a stream.
struct CommandPacket {
    std::string name;         // command name without its padding blanks, e.g. "CNTRL"
    std::string param;        // parameter name without its padding blanks, e.g. "CUTTER"
    std::string rawLengthField;  // the 8 characters of the length field as sent
    bool hasPayload = false;  // the length field held digits (possibly 00000000)
    std::vector<uint8_t> payload;
    size_t offset = 0;        // of the packet's first byte among the bytes fed since the last Reset

    // The payload as text (settings payloads are text, plane payloads not).
    std::string PayloadText() const { return std::string(payload.begin(), payload.end()); }
};

// Cuts a byte stream, fed in any split, into command packets, as the printer
// does with its bulk OUT endpoint.
//
//   CommandPacketReader reader(limit);
//   for (size_t at = 0, used; at < length; at += used)
//       switch (reader.Feed(data + at, length - at, &used)) { ... }
//
// A framing error (a header that does not start with ESC 'P', a length field
// that is neither 8 digits nor 8 blanks, a payload above the limit) is
// reported once; the reader then resynchronises at the next ESC after the
// start of the broken header, so a caller that wants to go on simply keeps
// feeding. Payloads are kept as they arrive, never allocated ahead from what
// a header announces; a reader that only needs the packet boundaries (the
// backend, which passes megabytes of plane data through) keeps none.
class CommandPacketReader {
public:
    enum Step {
        kNeedMore,      // every byte given was taken; no packet is complete yet
        kPacket,        // Packet() holds a complete packet
        kFramingError,  // ErrorText() and ErrorOffset() say what and where
    };
    enum class Phase { Idle, Header, Payload, Skipping };

    // maxPayload: the longest payload accepted (at most kCmdMaxPayload).
    // keepPayload false: payload bytes are counted, not stored, and a
    // completed packet's `payload` stays empty.
    explicit CommandPacketReader(size_t maxPayload = kCmdMaxPayload, bool keepPayload = true);

    // Takes bytes from data[0..length) up to the end of the next complete
    // packet or framing error, or all of them; *used receives how many.
    // After kPacket the packet stays in Packet() until the next Feed or Reset.
    Step Feed(const uint8_t* data, size_t length, size_t* used);

    // The packet completed by the last Feed; while a payload is arriving, the
    // header fields of the packet being received.
    CommandPacket& Packet() { return m_packet; }
    const CommandPacket& Packet() const { return m_packet; }

    // The last framing error: a short reason, e.g. "no packet start (ESC P)",
    // and the offset of the broken header among the bytes fed.
    const std::string& ErrorText() const { return m_error; }
    size_t ErrorOffset() const { return m_errorOffset; }

    // Forgets everything: partial header, partial payload, skipping, offsets.
    void Reset();

    // Where the reader stands between packets or inside one.
    Phase GetPhase() const;
    size_t HeaderBytes() const { return m_headerFill; }   // of the header being received
    size_t PayloadBytes() const { return m_state == State::Payload ? m_payloadFill : 0; }
    size_t PayloadWanted() const { return m_wanted; }
    size_t BytesFed() const { return m_fed; }             // since the last Reset

    // The phase as text: "idle", "header N", "payload N/M" or "skipping".
    std::string Describe() const;

private:
    enum class State { Header, Payload, Skipping, Done };

    Step HeaderComplete(size_t fedNow);
    Step Fail(std::string reason, size_t fedNow);

    size_t m_maxPayload;
    bool m_keepPayload;
    size_t m_payloadFill = 0;   // payload bytes of the packet being received
    State m_state = State::Header;
    unsigned char m_header[kCmdHeaderSize] = {};
    size_t m_headerFill = 0;
    size_t m_wanted = 0;
    size_t m_fed = 0;
    CommandPacket m_packet;
    std::string m_error;
    size_t m_errorOffset = 0;
};
