#include "DeviceNode.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace rt50emu {

namespace {

// Opens a device file straight through the kernel: umockdev's preload
// library keeps a small table of the descriptors of every device a program
// opens, which a hundred printers would overflow.
int OpenDevice(const char* path, int flags)
{
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC));
}

// A pseudo-terminal pair; *master and *slave get descriptors, *name the
// slave's path. False when the system has none to give.
bool OpenPty(int* master, int* slave, std::string* name)
{
    const int fd = OpenDevice("/dev/ptmx", O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    char path[64];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, path, sizeof path) != 0) {
        close(fd);
        return false;
    }
    const int other = OpenDevice(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other < 0) {
        close(fd);
        return false;
    }
    *master = fd;
    *slave = other;
    *name = path;
    return true;
}

}  // namespace

DeviceNode::~DeviceNode()
{
    Close();
}

void DeviceNode::Close()
{
    if (m_control >= 0)
        close(m_control);
    if (m_master >= 0)
        close(m_master);
    m_control = -1;
    m_master = -1;
}

bool DeviceNode::Create(const std::string& path, bool quiet)
{
    Close();
    m_kind = Kind::None;
    m_ready = true;
    m_hungUp = false;
    unlink(path.c_str());
    std::string pty;
    if (quiet && OpenPty(&m_master, &m_control, &pty)) {
        if (symlink(pty.c_str(), path.c_str()) == 0) {
            m_kind = Kind::Pty;
            return true;
        }
        Close();
    }
    if (quiet && mkfifo(path.c_str(), 0666) == 0) {
        m_control = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_control >= 0) {
            // One page of pipe is enough to fill when the node is to look busy.
            fcntl(m_control, F_SETPIPE_SZ, 4096);
            m_kind = Kind::Fifo;
            return true;
        }
        unlink(path.c_str());
    }
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0)
        return false;
    close(file);
    m_kind = Kind::File;
    return true;
}

void DeviceNode::SetReady(bool ready)
{
    if (ready == m_ready || m_hungUp || m_control < 0)
        return;
    if (m_kind == Kind::Pty) {
        // A stopped terminal has no room for output: poll() leaves out
        // POLLOUT until it is started again, which wakes the pollers.
        tcflow(m_control, ready ? TCOON : TCOOFF);
    } else {
        // A FIFO polls writable while its buffer has room: drain it to wake
        // the clients, fill it to let them sleep.
        char bytes[4096];
        if (ready) {
            while (read(m_control, bytes, sizeof bytes) > 0) {
            }
        } else {
            std::memset(bytes, 0, sizeof bytes);
            while (write(m_control, bytes, sizeof bytes) > 0) {
            }
            while (write(m_control, bytes, 1) > 0) {
            }
        }
    }
    m_ready = ready;
}

bool DeviceNode::HangUp()
{
    if (m_hungUp)
        return true;
    if (m_kind != Kind::Pty)
        return false;
    // TIOCGSID on the master end names the session that controls the
    // terminal, and fails when there is none.
    pid_t session = 0;
    if (ioctl(m_master, TIOCGSID, &session) == 0)
        return false;
    // Closing the master end hangs the terminal up for everyone who has it open.
    Close();
    m_hungUp = true;
    return true;
}

}  // namespace rt50emu
