// rt50-emulator: emulated RT-50 printers on a umockdev testbed.
//
//   rt50-emulator [options] [--] [COMMAND [ARG...]]
//
// With a command, runs it with the printers on its USB bus and exits with its
// exit status. Without, prints the testbed and control socket and waits for
// programs started with LD_PRELOAD=libumockdev-preload.so.0 and UMOCKDEV_DIR,
// until SIGINT, SIGTERM or the control command "quit".
//
//   rt50-emulator --send 'LINE' [--socket PATH]
//
// sends one control line to a running emulator (socket from --socket or
// RT50_EMULATOR_SOCKET) and prints the reply; exits 1 on "ERR".
#include "ControlServer.h"
#include "Emulator.h"
#include "Preload.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Usage()
{
    std::fprintf(stderr,
                 "usage: rt50-emulator [--serial S]... [--printers N] [--output DIR]\n"
                 "                     [--socket PATH] [--print-ms MS] [--rate BYTES_PER_S] [--driver]\n"
                 "                     [--] [COMMAND...]\n"
                 "       rt50-emulator --send LINE [--socket PATH]\n");
}

// The "--send" mode: one control line to a running emulator.
int Send(const std::string& line, std::string path)
{
    if (path.empty() && std::getenv("RT50_EMULATOR_SOCKET") != nullptr)
        path = std::getenv("RT50_EMULATOR_SOCKET");
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "rt50-emulator: no control socket (--socket or RT50_EMULATOR_SOCKET)\n");
        return 2;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "rt50-emulator: cannot connect to %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return 2;
    }
    const std::string request = line + "\n";
    std::string reply;
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        shutdown(fd, SHUT_WR);
        char chunk[1024];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0)
            reply.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    std::fputs(reply.c_str(), stdout);
    const size_t last = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
    const std::string status = reply.substr(last == std::string::npos ? 0 : last + 1);
    return status.rfind("OK", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--send") {
        const bool hasSocket = argc >= 5 && std::string(argv[3]) == "--socket";
        return Send(argv[2], hasSocket ? argv[4] : "");
    }
    if (!rt50emu::EnsurePreloaded(argv)) {
        std::fprintf(stderr, "rt50-emulator: cannot run under libumockdev-preload.so.0\n");
        return 2;
    }

    rt50emu::EmulatorOptions options;
    std::vector<std::string> serials;
    std::string socketPath;
    int printers = 0;
    bool driver = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        const bool hasValue = first + 1 < argc;
        if (arg == "--") {
            ++first;
            break;
        } else if (arg == "--serial" && hasValue) {
            serials.push_back(argv[++first]);
        } else if (arg == "--printers" && hasValue) {
            printers = std::atoi(argv[++first]);
        } else if (arg == "--output" && hasValue) {
            options.outputFolder = argv[++first];
        } else if (arg == "--socket" && hasValue) {
            socketPath = argv[++first];
        } else if (arg == "--print-ms" && hasValue) {
            options.printMs = std::atoi(argv[++first]);
        } else if (arg == "--rate" && hasValue) {
            options.rate = std::atol(argv[++first]);
        } else if (arg == "--driver") {
            driver = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            Usage();
            return 2;
        } else {
            break;
        }
    }
    if (printers < 0 || printers > 99 || options.printMs < 0 || options.rate < 0) {
        Usage();
        return 2;
    }
    for (int i = 1; i <= printers; ++i) {
        char serial[32];
        std::snprintf(serial, sizeof serial, "RT50EMU%04d", i);
        serials.push_back(serial);
    }
    if (serials.empty())
        serials.push_back("RT50EMU0001");

    // Signals are taken synchronously by the main thread only.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    rt50emu::Emulator emulator(options);
    for (const std::string& serial : serials) {
        std::string error;
        if (!emulator.AddPrinter(serial, &error)) {
            std::fprintf(stderr, "rt50-emulator: %s\n", error.c_str());
            return 2;
        }
        if (driver)
            emulator.Execute("set " + serial + " driver 1");
    }
    if (socketPath.empty())
        socketPath = emulator.RootDir() + "/control";
    rt50emu::ControlServer server(emulator);
    const std::string problem = server.Start(socketPath);
    if (!problem.empty()) {
        std::fprintf(stderr, "rt50-emulator: %s\n", problem.c_str());
        return 2;
    }
    setenv("RT50_EMULATOR_SOCKET", socketPath.c_str(), 1);
    setenv("RT50_EMULATOR_PRELOAD", rt50emu::ChildPreload().c_str(), 1);

    pid_t child = -1;
    if (first < argc) {
        child = fork();
        if (child == 0) {
            pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            setenv("LD_PRELOAD", rt50emu::ChildPreload().c_str(), 1);
            execvp(argv[first], argv + first);
            std::fprintf(stderr, "rt50-emulator: cannot run %s: %s\n", argv[first], std::strerror(errno));
            _exit(127);
        }
        if (child < 0) {
            std::perror("rt50-emulator: fork");
            return 2;
        }
    } else {
        std::printf("UMOCKDEV_DIR=%s\nRT50_EMULATOR_SOCKET=%s\nRT50_EMULATOR_PRELOAD=%s\n",
                    emulator.RootDir().c_str(), socketPath.c_str(), rt50emu::ChildPreload().c_str());
        std::fflush(stdout);
    }

    int exitCode = 0;
    const timespec tick = {0, 200 * 1000 * 1000};
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        if (child > 0) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (signal == SIGINT || signal == SIGTERM)
                kill(child, signal);
        } else if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        if (emulator.QuitRequested()) {
            if (child > 0)
                kill(child, SIGTERM);
            else
                break;
        }
    }
    server.Stop();
    return exitCode;
}
