// A plain libusb program run by rt50-emulator: finds every printer by
// hot-plug, reads its identity and every query, prints a sheet on each, and
// has each one pulled out and plugged in again through the emulator's
// control socket. Exits 0 when everything behaved like a real RT-50.
//
//   rt50-emulator --printers N --output DIR -- rt50_usb_probe N DIR
//
// "rt50_usb_probe hold" opens the printer, claims it, starts a read that
// gets no reply, says "holding" and waits to be killed: a program that dies
// with the printer in use. "rt50_usb_probe hold-mid-request" also leaves a
// request unanswered when it is killed: it floods umockdev's socket with
// requests and reads none of the answers until the emulator can write no
// more of them.
#include "UsbTestClient.h"

#include <dirent.h>
#include <fcntl.h>
#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok)
        ++g_failures;
}

// Sends one control line to the emulator and returns its reply.
std::string Control(const std::string& line)
{
    const char* path = std::getenv("RT50_EMULATOR_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path == nullptr)
        return "";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            close(fd);
        return "";
    }
    const std::string request = line + "\n";
    std::string reply;
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char chunk[256];
        ssize_t n;
        while (reply.find("OK\n") == std::string::npos && reply.find("ERR") == std::string::npos &&
               (n = read(fd, chunk, sizeof chunk)) > 0)
            reply.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return reply;
}

// The descriptor of umockdev's socket for the printer's node, or -1.
int IoctlSocket()
{
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        if (fd > 2 && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sun_family == AF_UNIX && std::string(peer.sun_path).find("/ioctl/") != std::string::npos)
            found = fd;
    }
    closedir(folder);
    return found;
}

// Sends requests without reading their answers until nothing more gets
// through for half a second: the emulator is then stuck answering.
bool Flood(int fd)
{
    const unsigned long request[3] = {1, USBDEVFS_DISCARDURB, 0};   // an ioctl, no memory to read
    if (fd < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
        return false;
    for (;;) {
        pollfd room{fd, POLLOUT, 0};
        if (poll(&room, 1, 500) == 0)
            return true;
        if (send(fd, request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request) && errno != EAGAIN)
            return false;
    }
}

}  // namespace

int Hold(bool midRequest)
{
    rt50test::UsbClient client;
    if (!client.Start() || !client.WaitFor(3000, [&] { return client.Arrivals() > 0; }) || client.Open() != 0)
        return 1;
    static unsigned char buffer[8];
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    libusb_fill_bulk_transfer(transfer, client.handle(), 0x82, buffer, sizeof buffer,
                              [](libusb_transfer*) {}, nullptr, 0);
    if (libusb_submit_transfer(transfer) != 0)
        return 1;
    if (midRequest && !Flood(IoctlSocket()))
        return 1;
    std::printf("holding\n");
    std::fflush(stdout);
    for (;;)
        pause();
}

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string(argv[1]) == "hold" || std::string(argv[1]) == "hold-mid-request"))
        return Hold(std::string(argv[1]) == "hold-mid-request");
    if (argc != 3) {
        std::fprintf(stderr, "usage: rt50_usb_probe PRINTERS OUTPUT-FOLDER\n");
        return 2;
    }
    const int printers = std::atoi(argv[1]);
    const std::string output = argv[2];
    std::vector<std::string> serials;
    {
        rt50test::UsbClient client;
        Check(client.Start(), "libusb with hot-plug");
        Check(client.WaitFor(3000, [&] { return client.Arrivals() == printers; }),
              "every printer arrives by hot-plug");
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(client.context(), &list);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            libusb_get_device_descriptor(list[i], &descriptor);
            if (descriptor.idVendor != 0x3A7F || descriptor.idProduct != 0x000C)
                continue;
            if (client.Open(list[i]) != 0) {
                Check(false, "open, detach and claim");
                continue;
            }
            const std::string serial = client.StringDescriptor(descriptor.iSerialNumber);
            serials.push_back(serial);
            Check(client.StringDescriptor(descriptor.iProduct).find("Photo Printer") != std::string::npos,
                  serial + ": product string");
            const std::string id = client.DeviceId();
            Check(id.rfind("MANUFACTURER:VANTORA;MODEL:RT-50;", 0) == 0, serial + ": device ID " + id);
            Check(client.Query("INFO", "SERIAL_NUMBER").value == serial, serial + ": serial number query");
            const char* queries[][2] = {{"STATUS", nullptr}, {"INFO", "MEDIA"}, {"INFO", "MEDIA_CLASS_RFID"},
                                        {"INFO", "MQTY_DEFAULT"}, {"INFO", "MQTY"}, {"INFO", "RQTY"},
                                        {"INFO", "FVER"}, {"MNT_RD", "COUNTER_LIFE"}};
            for (const auto& query : queries) {
                const rt50test::Reply reply = client.Query(query[0], query[1]);
                Check(reply.result == 0 && !reply.value.empty(),
                      serial + ": " + query[0] + " " + (query[1] ? query[1] : "") + " = " + reply.value);
            }
            const std::string before = client.Query("INFO", "MQTY").value;
            Check(client.Send(rt50test::SheetJob(1408, 120)) == 0, serial + ": job sent");
            Check(client.WaitFor(5000, [&] { return client.Query("STATUS", nullptr).value == "0000"; }),
                  serial + ": printed");
            Check(std::atoi(client.Query("INFO", "MQTY").value.c_str()) == std::atoi(before.c_str()) - 1,
                  serial + ": one sheet fewer");
            Check(access((output + "/" + serial + "-sheet-0001.png").c_str(), R_OK) == 0,
                  serial + ": sheet recorded as PNG");
            client.Close();
        }
        libusb_free_device_list(list, 1);
        Check(static_cast<int>(serials.size()) == printers, "every printer answered");

        for (const std::string& serial : serials) {
            const int departures = client.Departures();
            const int arrivals = client.Arrivals();
            Check(Control("unplug " + serial) == "OK\n", serial + ": unplugged");
            Check(client.WaitFor(3000, [&] { return client.Departures() == departures + 1; }),
                  serial + ": departure seen");
            Check(Control("plug " + serial) == "OK\n", serial + ": plugged again");
            Check(client.WaitFor(3000, [&] { return client.Arrivals() == arrivals + 1; }),
                  serial + ": arrival seen");
            Check(client.Open() == 0 && client.Query("INFO", "SERIAL_NUMBER").value == serial,
                  serial + ": answers again");
            client.Close();
        }
    }
    std::printf("rt50_usb_probe: %d check(s) failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
