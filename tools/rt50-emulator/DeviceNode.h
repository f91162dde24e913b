// The file that stands for one printer's usbfs device node in the testbed.
// usbfs tells libusb that a transfer can be reaped by polling writable, and
// that the device has gone by POLLERR | POLLHUP; the testbed has no such
// device, so the node is the best stand-in the system offers:
//
//   pty    a symbolic link to a pseudo-terminal whose other end the emulator
//          holds: writable while its output runs, quiet while it is stopped,
//          and POLLERR | POLLHUP once the emulator hangs it up;
//   fifo   (no pseudo-terminals) a FIFO kept full while it is to be quiet;
//          the departure cannot be signalled;
//   file   an empty file, always writable (clients spin; for comparison).
#pragma once

#include <string>

namespace rt50emu {

class DeviceNode {
public:
    enum class Kind { None, Pty, Fifo, File };

    DeviceNode() = default;
    ~DeviceNode();
    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;

    // Makes the node at `path`, replacing whatever is there: a pty, else a
    // FIFO, or, when `quiet` is false, a plain file. Writable at first.
    // False when not even a file could be made.
    bool Create(const std::string& path, bool quiet);

    // Whether clients' poll() is to report the node writable.
    void SetReady(bool ready);

    // The device has left: a pty reports POLLERR | POLLHUP from now on, as
    // usbfs does. Not when a client's session has made the pty its
    // controlling terminal (a session leader that opened it): hanging up
    // would send that session SIGHUP, which no USB device does; the node
    // then stays as it is. True when the departure was signalled.
    bool HangUp();

    Kind kind() const { return m_kind; }
    bool hungUp() const { return m_hungUp; }

private:
    void Close();

    Kind m_kind = Kind::None;
    int m_master = -1;     // pty: the emulator's end
    int m_control = -1;    // pty: our own descriptor of the clients' end; fifo: our end
    bool m_ready = true;
    bool m_hungUp = false;
};

}  // namespace rt50emu
