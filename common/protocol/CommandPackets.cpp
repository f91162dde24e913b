#include "CommandPackets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int _FormatCmdHeader(unsigned char* header, const char* name, const char* param, int payloadLength)
{
    std::memset(header, ' ', kCmdHeaderSize);
    header[0] = 0x1B;
    header[1] = 'P';

    if (name == nullptr)
        return kProtoInvalid;
    const size_t nameLength = std::strlen(name);
    if (nameLength > kCmdNameWidth)
        return kProtoInvalid;
    std::memcpy(header + kCmdNameOffset, name, nameLength);

    if (param == nullptr)
        return payloadLength >= 0 ? kProtoInvalid : kProtoOk;  // a payload needs a parameter name
    const size_t paramLength = std::strlen(param);
    if (paramLength > kCmdParamWidth)
        return kProtoInvalid;
    std::memcpy(header + kCmdParamOffset, param, paramLength);

    if (payloadLength < 0)
        return kProtoOk;
    // The length field holds exactly 8 digits: a payload of 100,000,000 bytes
    // or more cannot be described and is refused.
    char digits[32];
    const int digitCount = std::snprintf(digits, sizeof digits, "%08d", payloadLength);
    if (digitCount < 0 || digitCount > kCmdLengthWidth)
        return kProtoInvalid;
    std::memcpy(header + kCmdLengthOffset, digits, static_cast<size_t>(digitCount));
    return kProtoOk;
}

int DeviceCmd::Fail(int result)
{
    Free();
    return result;
}

int DeviceCmd::MakeCmd(const char* name, const char* param, int length, const void* data)
{
    Free();

    const bool hasPayload = length > 0 && data != nullptr;
    if (hasPayload && length > kCmdMaxPayload)
        return kProtoInvalid;
    const int packetLength = kCmdHeaderSize + (hasPayload ? length : 0);

    // The packet and two NUL bytes after it.
    m_buffer = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(packetLength) + 2));
    if (m_buffer == nullptr) {
        m_length = 0;
        return kProtoNoMemory;
    }
    m_length = packetLength;
    m_buffer[packetLength] = 0;
    m_buffer[packetLength + 1] = 0;

    const int result = _FormatCmdHeader(m_buffer, name, param, hasPayload ? length : -1);
    if (result != kProtoOk)
        return Fail(result);
    if (hasPayload)
        std::memcpy(m_buffer + kCmdHeaderSize, data, static_cast<size_t>(length));
    return kProtoOk;
}

int DeviceCmd::Free()
{
    std::free(m_buffer);
    m_buffer = nullptr;
    m_length = 0;
    return 0;
}

namespace {

// A fixed-width name field without its padding blanks.
std::string Trimmed(const unsigned char* field, size_t width)
{
    size_t length = width;
    while (length > 0 && field[length - 1] == ' ')
        --length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

CommandPacketReader::CommandPacketReader(size_t maxPayload, bool keepPayload)
    : m_maxPayload(std::min<size_t>(maxPayload, kCmdMaxPayload)), m_keepPayload(keepPayload)
{
}

void CommandPacketReader::Reset()
{
    m_state = State::Header;
    m_headerFill = 0;
    m_wanted = 0;
    m_payloadFill = 0;
    m_fed = 0;
    m_packet = CommandPacket();
    m_error.clear();
    m_errorOffset = 0;
}

CommandPacketReader::Phase CommandPacketReader::GetPhase() const
{
    switch (m_state) {
    case State::Header:
        return m_headerFill == 0 ? Phase::Idle : Phase::Header;
    case State::Payload:
        return Phase::Payload;
    case State::Skipping:
        return Phase::Skipping;
    case State::Done:
        break;
    }
    return Phase::Idle;
}

std::string CommandPacketReader::Describe() const
{
    switch (GetPhase()) {
    case Phase::Header:
        return "header " + std::to_string(m_headerFill);
    case Phase::Payload:
        return "payload " + std::to_string(m_payloadFill) + "/" + std::to_string(m_wanted);
    case Phase::Skipping:
        return "skipping";
    case Phase::Idle:
        break;
    }
    return "idle";
}

CommandPacketReader::Step CommandPacketReader::Fail(std::string reason, size_t fedNow)
{
    m_error = std::move(reason);
    m_errorOffset = fedNow - kCmdHeaderSize;   // the header is the last 32 bytes taken
    m_packet = CommandPacket();
    // The next packet may already have started inside the broken header.
    const void* esc = std::memchr(m_header + 1, 0x1B, kCmdHeaderSize - 1);
    if (esc != nullptr) {
        const size_t from = static_cast<size_t>(static_cast<const unsigned char*>(esc) - m_header);
        m_headerFill = kCmdHeaderSize - from;
        std::memmove(m_header, m_header + from, m_headerFill);
        m_state = State::Header;
    } else {
        m_headerFill = 0;
        m_state = State::Skipping;
    }
    return kFramingError;
}

CommandPacketReader::Step CommandPacketReader::HeaderComplete(size_t fedNow)
{
    if (m_header[0] != 0x1B || m_header[1] != 'P')
        return Fail("no packet start (ESC P)", fedNow);

    const unsigned char* field = m_header + kCmdLengthOffset;
    const std::string lengthField(reinterpret_cast<const char*>(field), kCmdLengthWidth);
    size_t wanted = 0;
    bool blank = true;
    bool digits = true;
    for (unsigned char c : lengthField) {
        blank = blank && c == ' ';
        digits = digits && c >= '0' && c <= '9';
        if (digits)
            wanted = wanted * 10 + (c - '0');
    }
    if (!blank && !digits)
        return Fail("bad length field \"" + lengthField + "\"", fedNow);
    if (digits && wanted > m_maxPayload)
        return Fail("payload of " + std::to_string(wanted) + " bytes is above the limit of " +
                        std::to_string(m_maxPayload),
                    fedNow);

    m_packet.name = Trimmed(m_header + kCmdNameOffset, kCmdNameWidth);
    m_packet.param = Trimmed(m_header + kCmdParamOffset, kCmdParamWidth);
    m_packet.rawLengthField = lengthField;
    m_packet.hasPayload = digits;
    m_packet.offset = fedNow - kCmdHeaderSize;
    m_headerFill = 0;
    m_wanted = wanted;
    m_payloadFill = 0;
    if (wanted > 0) {
        m_state = State::Payload;
        return kNeedMore;
    }
    m_state = State::Done;
    return kPacket;
}

CommandPacketReader::Step CommandPacketReader::Feed(const uint8_t* data, size_t length, size_t* used)
{
    if (m_state == State::Done) {
        m_packet = CommandPacket();
        m_wanted = 0;
        m_payloadFill = 0;
        m_state = State::Header;
    }
    size_t at = 0;
    Step step = kNeedMore;
    while (at < length && step == kNeedMore) {
        switch (m_state) {
        case State::Skipping: {
            const void* esc = std::memchr(data + at, 0x1B, length - at);
            if (esc == nullptr) {
                at = length;
                break;
            }
            at = static_cast<size_t>(static_cast<const uint8_t*>(esc) - data);
            m_state = State::Header;
            break;
        }
        case State::Header: {
            const size_t take = std::min(kCmdHeaderSize - m_headerFill, length - at);
            std::memcpy(m_header + m_headerFill, data + at, take);
            m_headerFill += take;
            at += take;
            if (m_headerFill == kCmdHeaderSize)
                step = HeaderComplete(m_fed + at);
            break;
        }
        case State::Payload: {
            const size_t take = std::min(m_wanted - m_payloadFill, length - at);
            if (m_keepPayload)
                m_packet.payload.insert(m_packet.payload.end(), data + at, data + at + take);
            m_payloadFill += take;
            at += take;
            if (m_payloadFill == m_wanted) {
                m_state = State::Done;
                step = kPacket;
            }
            break;
        }
        case State::Done:
            break;
        }
    }
    m_fed += at;
    *used = at;
    return step;
}
