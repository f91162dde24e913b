#include "ControlServer.h"

#include "Emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace rt50emu {

namespace {

constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxClients = 16;

bool SendAll(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

ControlServer::ControlServer(Emulator& emulator) : m_emulator(emulator) {}

ControlServer::~ControlServer()
{
    Stop();
}

std::string ControlServer::Start(const std::string& path)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return "socket path must be 1 to 107 bytes long: " + path;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return std::string("socket: ") + std::strerror(errno);
    unlink(path.c_str());
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listen, 8) != 0) {
        const std::string reason = std::string("cannot listen on ") + path + ": " + std::strerror(errno);
        close(m_listen);
        m_listen = -1;
        return reason;
    }
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        close(m_listen);
        m_listen = -1;
        return std::string("pipe: ") + std::strerror(errno);
    }
    m_path = path;
    m_thread = std::thread(&ControlServer::Run, this);
    return std::string();
}

void ControlServer::Stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        if (write(m_wake[1], &byte, 1) < 0) {
            // The thread also ends when the pipe closes below.
        }
        m_thread.join();
    }
    for (int& fd : m_wake) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (m_listen >= 0) {
        close(m_listen);
        m_listen = -1;
        unlink(m_path.c_str());
    }
}

void ControlServer::Run()
{
    std::map<int, std::string> clients;   // socket -> unfinished line
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({m_wake[0], POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        for (const auto& client : clients)
            fds.push_back({client.first, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            break;
        if ((fds[1].revents & POLLIN) != 0) {
            const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && clients.size() < kMaxClients)
                clients.emplace(fd, std::string());
            else if (fd >= 0)
                close(fd);
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            const int fd = fds[i].fd;
            std::string& pending = clients[fd];
            char chunk[1024];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            bool keep = n > 0;
            if (keep)
                pending.append(chunk, static_cast<size_t>(n));
            size_t end;
            while (keep && (end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                keep = SendAll(fd, m_emulator.Execute(line));
            }
            if (keep && pending.size() > kMaxLine) {
                // A client that sends no line feed is cut off.
                SendAll(fd, "ERR line too long\n");
                keep = false;
            }
            if (!keep) {
                close(fd);
                clients.erase(fd);
            }
        }
    }
    for (const auto& client : clients)
        close(client.first);
}

}  // namespace rt50emu
