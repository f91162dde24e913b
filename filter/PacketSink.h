// Where a device object's command packets go: the filter's standard output,
// or, in the printer application, the printer itself sheet by sheet.
#pragma once

#include <cstddef>

class PacketSink {
public:
    virtual ~PacketSink() = default;

    // Takes one whole packet (header and payload). Returns 0, or an errno
    // value when the packet could not be taken; nothing more is sent then.
    virtual int TakePacket(const unsigned char* data, size_t length) = 0;

    // The sheet whose packets were taken is complete (its START packet was
    // the last one). Returns 0, or an errno value when the sheet could not
    // be printed (ECANCELED for a cancelled job).
    virtual int EndSheet() { return 0; }
};

// Writes every packet to a file descriptor, retrying short writes.
class FdPacketSink : public PacketSink {
public:
    explicit FdPacketSink(int fd = 1) : m_fd(fd) {}
    int TakePacket(const unsigned char* data, size_t length) override;
    void SetFd(int fd) { m_fd = fd; }

private:
    int m_fd;
};
