// Serves the emulator's line commands on a local (unix) stream socket: each
// line received is run with Emulator::Execute and its reply sent back.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace rt50emu {

class Emulator;

class ControlServer {
public:
    explicit ControlServer(Emulator& emulator);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens on `path` (replacing a stale socket) and starts serving.
    // Returns an empty string or the reason it failed.
    std::string Start(const std::string& path);

    // Stops serving and removes the socket.
    void Stop();

private:
    void Run();

    Emulator& m_emulator;
    std::string m_path;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace rt50emu
