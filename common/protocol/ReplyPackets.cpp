#include "ReplyPackets.h"

#include "TextFields.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// True when one of the first `size` bytes is a carriage return or a NUL.
bool HasTerminator(const unsigned char* area, int size)
{
    for (int i = 0; i < size; ++i) {
        if (area[i] == '\r' || area[i] == '\0')
            return true;
    }
    return false;
}

}  // namespace

int _ReplyDataLength(const unsigned char* header, int bufferLength)
{
    if (header == nullptr)
        return -1;
    for (int i = 0; i < DeviceRecv::kHeaderSize; ++i) {
        if (header[i] < '0' || header[i] > '9')
            return -1;
    }
    const int length = _TextToInt(reinterpret_cast<const char*>(header), DeviceRecv::kHeaderSize);
    if (length < 1 || length > bufferLength - DeviceRecv::kHeaderSize)
        return -1;
    return length;
}

DeviceRecv::DeviceRecv(int expectedLength, const char* prefix)
    : m_expected(expectedLength)
{
    if (prefix != nullptr)
        std::snprintf(m_prefix, sizeof m_prefix, "%s", prefix);
}

int DeviceRecv::GetBufferLength() const
{
    if (m_expected == -1)
        return kVariableArea;
    if (m_expected > 0 && m_expected <= 0x7fffffff - kHeaderSize - 2)
        return m_expected + kHeaderSize;
    return 0;
}

int DeviceRecv::Alloc()
{
    Free();
    const int length = GetBufferLength();
    if (length == 0)
        return kProtoOk;
    m_buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(length) + 2, 1));
    return m_buffer == nullptr ? kProtoNoMemory : kProtoOk;
}

int DeviceRecv::Free()
{
    std::free(m_buffer);
    m_buffer = nullptr;
    return 0;
}

int DeviceRecv::CheckData() const
{
    const int area = GetBufferLength();
    if (m_buffer == nullptr || area == 0)
        return kProtoInvalid;

    if (m_expected == -1) {
        if (!HasTerminator(m_buffer, area))
            return kProtoInvalid;
    } else {
        const int received = _TextToInt(reinterpret_cast<const char*>(m_buffer), kHeaderSize);
        if (received == m_expected) {
            if (!HasTerminator(m_buffer, area))
                return kProtoInvalid;
        } else if (std::memchr(m_buffer, 0, static_cast<size_t>(area)) == nullptr) {
            return kProtoInvalid;
        }
    }

    const size_t prefixLength = std::strlen(m_prefix);
    if (prefixLength > 0 &&
        (static_cast<size_t>(area) < kHeaderSize + prefixLength ||
         std::memcmp(m_buffer + kHeaderSize, m_prefix, prefixLength) != 0))
        return kProtoInvalid;
    return kProtoOk;
}

int DeviceRecv::GetEffectiveDataAsString(char* dst, size_t dstSize) const
{
    if (dst == nullptr || dstSize == 0)
        return kProtoInvalid;
    dst[0] = '\0';

    const int area = GetBufferLength();
    if (m_buffer == nullptr || area == 0)
        return kProtoOk;

    const void* cr = std::memchr(m_buffer, '\r', static_cast<size_t>(area));
    if (cr == nullptr)
        cr = std::memchr(m_buffer, '\0', static_cast<size_t>(area));
    const size_t end = cr != nullptr
        ? static_cast<size_t>(static_cast<const unsigned char*>(cr) - m_buffer)
        : static_cast<size_t>(area);
    const size_t start = kHeaderSize + std::strlen(m_prefix);
    if (end <= start)
        return kProtoOk;

    size_t length = end - start;
    if (length > dstSize - 1)
        length = dstSize - 1;
    std::memcpy(dst, m_buffer + start, length);
    // A NUL inside the value would end the copy early and pass a shorter
    // value off as the printer's answer: it is written as '?' instead.
    for (size_t i = 0; i < length; ++i) {
        if (dst[i] == '\0')
            dst[i] = '?';
    }
    dst[length] = '\0';
    return kProtoOk;
}
