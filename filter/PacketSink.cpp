#include "PacketSink.h"

#include <cerrno>
#include <unistd.h>

int FdPacketSink::TakePacket(const unsigned char* data, size_t length)
{
    size_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(m_fd, data + written, length - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 && errno != 0 ? errno : EIO;
        written += static_cast<size_t>(n);
    }
    return 0;
}
