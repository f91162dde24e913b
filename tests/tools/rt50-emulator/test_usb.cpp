// Real libusb against the emulated RT-50, in the test process: the testbed is
// made before libusb_init and outlives libusb_exit.
#include "ControlServer.h"
#include "EmulatedPrinter.h"
#include "HoldingProbe.h"
#include "SheetRecorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using rt50test::EmulatedPrinter;

TEST_F(EmulatedPrinter, IdentifiesItselfLikeTheRealPrinter)
{
    Connect();
    libusb_device* device = libusb_get_device(client().handle());
    libusb_device_descriptor descriptor{};
    ASSERT_EQ(libusb_get_device_descriptor(device, &descriptor), 0);
    EXPECT_EQ(descriptor.idVendor, 0x3A7F);
    EXPECT_EQ(descriptor.idProduct, 0x000C);
    EXPECT_EQ(client().StringDescriptor(descriptor.iManufacturer), "VANTORA");
    EXPECT_NE(client().StringDescriptor(descriptor.iProduct).find("Photo Printer"), std::string::npos);
    EXPECT_EQ(client().StringDescriptor(descriptor.iSerialNumber), serial());

    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0);
    const libusb_interface_descriptor& interface = config->interface[0].altsetting[0];
    EXPECT_EQ(interface.bInterfaceClass, LIBUSB_CLASS_PRINTER);
    ASSERT_EQ(interface.bNumEndpoints, 2);
    EXPECT_EQ(interface.endpoint[0].bEndpointAddress, 0x01);
    EXPECT_EQ(interface.endpoint[1].bEndpointAddress, 0x82);
    EXPECT_EQ(interface.endpoint[1].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_BULK);
    libusb_free_config_descriptor(config);

    // The device ID carries its length, big-endian, in its first two bytes.
    unsigned char raw[2048] = {};
    const int got = libusb_control_transfer(client().handle(), 0xA1, 0, 0, 0, raw, sizeof raw, 1000);
    ASSERT_GT(got, 14);
    EXPECT_EQ(raw[0] << 8 | raw[1], got);
    const std::string id = client().DeviceId();
    EXPECT_EQ(id.rfind("MANUFACTURER:VANTORA;MODEL:RT-50;", 0), 0u) << id;
    // A request the printer does not know stalls.
    EXPECT_EQ(libusb_control_transfer(client().handle(), 0xC0, 0x55, 0, 0, raw, 8, 1000), LIBUSB_ERROR_PIPE);
}

TEST_F(EmulatedPrinter, IdentityCanBeMadeWrongForTheIdentificationChecks)
{
    Control("set " + serial() + " product Label   Printer 2");
    Control("set " + serial() + " deviceid MFG:OTHER;MDL:X 1; ");
    Control("set " + serial() + " idorder le");
    Connect();
    libusb_device_descriptor descriptor{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(client().handle()), &descriptor), 0);
    EXPECT_EQ(client().StringDescriptor(descriptor.iProduct), "Label   Printer 2");
    unsigned char raw[64] = {};
    const int got = libusb_control_transfer(client().handle(), 0xA1, 0, 0, 0, raw, sizeof raw, 1000);
    ASSERT_EQ(got, 2 + 18);
    EXPECT_EQ(raw[0], 20);   // length in the wrong byte order
    EXPECT_EQ(raw[1], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw) + 2, 18), "MFG:OTHER;MDL:X 1;");
    // A request shorter than the ID gets its first bytes.
    EXPECT_EQ(libusb_control_transfer(client().handle(), 0xA1, 0, 0, 0, raw, 5, 1000), 5);

    EXPECT_EQ(emulator().Execute("set " + serial() + " deviceid x\x01y").substr(0, 4), "ERR ");
    EXPECT_EQ(emulator().Execute("set " + serial() + " idorder middle").substr(0, 4), "ERR ");
    EXPECT_EQ(emulator().Execute("set " + serial() + " status 1 2").substr(0, 4), "ERR ");
    EXPECT_EQ(emulator().Execute("set " + serial() + " product").substr(0, 4), "ERR ");
    Control("set " + serial() + " deviceid");
    EXPECT_EQ(client().DeviceId().rfind("MANUFACTURER:VANTORA;MODEL:RT-50;", 0), 0u);

    // The serial number it reports can be anything a broken or hostile
    // device might say; the printer keeps its name for the controls.
    Control("set " + serial() + " serialno A1;rm -rf / $(id)");
    EXPECT_EQ(client().Query("INFO", "SERIAL_NUMBER").value, "A1;rm -rf / $(id)");
    EXPECT_NE(client().DeviceId().find("SERIALNUMBER:A1;rm -rf / $(id);"), std::string::npos);
    Control("set " + serial() + " serialno");
    EXPECT_EQ(client().Query("INFO", "SERIAL_NUMBER").value, serial());
}

TEST_F(EmulatedPrinter, BoundKernelDriverMustBeDetached)
{
    Control("set " + serial() + " driver 1");
    ASSERT_TRUE(client().Start());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() >= 1; }));
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(client().LastArrived(), &handle), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
    // A second program cannot take the interface meanwhile.
    libusb_device_handle* other = nullptr;
    ASSERT_EQ(libusb_open(client().LastArrived(), &other), 0);
    EXPECT_EQ(libusb_claim_interface(other, 0), LIBUSB_ERROR_BUSY);
    libusb_close(other);
    EXPECT_EQ(libusb_release_interface(handle, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    libusb_close(handle);
}

TEST_F(EmulatedPrinter, AnswersEveryQuery)
{
    const std::string s = "set " + serial() + " ";
    for (const char* change : {"status 900", "media 161", "class 3", "initial 700", "remain 650",
                               "firmware 2.04", "counter 123456"})
        Control(s + change);
    Connect();
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0900");
    const auto serialReply = client().Query("INFO", "SERIAL_NUMBER");
    EXPECT_EQ(serialReply.result, 0);
    EXPECT_EQ(serialReply.header, "00000013");
    EXPECT_EQ(serialReply.value, serial());
    EXPECT_EQ(client().Query("INFO", "MEDIA").value, "00161");
    EXPECT_EQ(client().Query("INFO", "MEDIA_CLASS_RFID").value, "3");
    EXPECT_EQ(client().Query("INFO", "MQTY_DEFAULT").value, "0000700");
    EXPECT_EQ(client().Query("INFO", "MQTY").value, "0000650");
    EXPECT_EQ(client().Query("INFO", "RQTY").value, "00001300");
    EXPECT_EQ(client().Query("INFO", "FVER").value, "2.04");
    EXPECT_EQ(client().Query("MNT_RD", "COUNTER_LIFE").value, "00123456");
}

TEST_F(EmulatedPrinter, PrintsAJobAndRecordsTheSheet)
{
    Control("set " + serial() + " remain 10");
    Control("set " + serial() + " counter 41");
    Control("set " + serial() + " printms 500");   // long enough to see it print
    Connect();
    const auto job = rt50test::SheetJob(1408, 60);
    ASSERT_GT(job.size(), 3u * 65536);   // many URBs, packets cut at their edges
    ASSERT_EQ(client().Send(job), 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0001");
    ASSERT_TRUE(client().WaitFor(3000, [&] { return client().Query("STATUS", nullptr).value == "0000"; }));
    EXPECT_EQ(client().Query("INFO", "MQTY").value, "00009");
    EXPECT_EQ(client().Query("MNT_RD", "COUNTER_LIFE").value, "00000042");

    const std::string base = outputFolder() + "/" + serial() + "-sheet-0001";
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(rt50emu::ReadPng(base + ".png", &w, &h, &rgb));
    EXPECT_EQ(w, 1408);
    EXPECT_EQ(h, 60);
    auto pixel = [&](int x, int y) {
        const size_t at = (static_cast<size_t>(y) * 1408 + static_cast<size_t>(x)) * 3;
        return std::vector<int>{rgb[at], rgb[at + 1], rgb[at + 2]};
    };
    EXPECT_EQ(pixel(10, 0), (std::vector<int>{255, 255, 255}));   // white top rows
    EXPECT_EQ(pixel(10, 30), (std::vector<int>{255, 0, 0}));      // red left half
    EXPECT_EQ(pixel(1400, 59), (std::vector<int>{0, 0, 255}));    // blue right half
    std::ifstream text(base + ".txt");
    std::stringstream settings;
    settings << text.rdbuf();
    for (const char* line : {"SERIAL=RT50TEST0001\n", "SET_SYS_TIME=20260102030405\n", "CUTTER=00000000\n",
                             "OVERCOAT=00000001\n", "BUFFCNTRL=00000001\n", "PRINTSPEED=00000000\n",
                             "DECURL=020000000000\n", "MULTICUT=00000048\n", "HEIGHT=60\n"})
        EXPECT_NE(settings.str().find(line), std::string::npos) << line << settings.str();
}

TEST_F(EmulatedPrinter, FaultsFailTheClientsCallsLikeRealFailures)
{
    Connect();
    const std::string f = "fault " + serial() + " ";

    Control(f + "noanswer");
    auto reply = client().Query("STATUS", nullptr, 100);
    EXPECT_EQ(reply.result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");   // the next one is answered

    Control(f + "badheader");
    reply = client().Query("STATUS", nullptr);
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.header, "00 0X005");
    EXPECT_EQ(reply.value, "");

    Control(f + "badlength 4089");
    EXPECT_EQ(client().Query("INFO", "FVER").header, "00004089");

    Control(f + "slow 400");
    EXPECT_EQ(client().Query("STATUS", nullptr, 100).result, LIBUSB_ERROR_TIMEOUT);
    Control(f + "slow 50");
    reply = client().Query("STATUS", nullptr, 2000);
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.value, "0000");

    Control(f + "stall in");
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_clear_halt(client().handle(), 0x82), 0);
    Control(f + "stall out");
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_clear_halt(client().handle(), 0x01), 0);

    // "noanswer 0" lasts until cleared: a printer that has gone silent.
    Control(f + "noanswer 0");
    EXPECT_EQ(client().Query("STATUS", nullptr, 50).result, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(client().Query("INFO", "FVER", 50).result, LIBUSB_ERROR_TIMEOUT);
    Control(f + "clear");
    EXPECT_EQ(client().Query("INFO", "FVER").value, "1.53");
}

TEST_F(EmulatedPrinter, SoftResetDeviceResetAndReplugStartAFreshCommandStream)
{
    Connect();
    auto stream = [&] {
        const std::string shown = emulator().Execute("show " + serial());
        const size_t at = shown.find("\nstream=");
        return at == std::string::npos ? std::string("?") : shown.substr(at + 8, shown.find('\n', at + 1) - at - 8);
    };
    auto softReset = [&] { return libusb_control_transfer(client().handle(), 0x21, 2, 0, 0, nullptr, 0, 1000); };
    const std::vector<uint8_t> query = rt50test::Packet("INFO", "SERIAL_NUMBER");
    const std::vector<uint8_t> stray(query.begin(), query.begin() + 10);

    // Ten bytes of a command that never finished swallow the next STATUS, as
    // on a real printer, until the host resets the printer's stream.
    ASSERT_EQ(client().Send(stray), 0);
    EXPECT_EQ(stream(), "header 10");
    auto reply = client().Query("STATUS", nullptr);
    EXPECT_EQ(reply.header, "00000001");
    EXPECT_EQ(softReset(), 0);
    EXPECT_EQ(stream(), "idle");
    reply = client().Query("STATUS", nullptr);
    EXPECT_EQ(reply.header, "00000005");
    EXPECT_EQ(reply.value, "0000");

    // An unread reply goes with the soft reset.
    ASSERT_EQ(client().Send(rt50test::Packet("INFO", "FVER")), 0);
    EXPECT_EQ(softReset(), 0);
    unsigned char buffer[8];
    int got = 0;
    EXPECT_EQ(libusb_bulk_transfer(client().handle(), 0x82, buffer, 8, &got, 100), LIBUSB_ERROR_TIMEOUT);

    // A job killed inside a plane, then a device reset.
    const std::vector<uint8_t> job = rt50test::SheetJob(1408, 60);
    ASSERT_EQ(client().Send(std::vector<uint8_t>(job.begin(), job.begin() + 70000)), 0);
    EXPECT_EQ(stream().rfind("payload ", 0), 0u) << stream();
    EXPECT_EQ(libusb_reset_device(client().handle()), 0);
    EXPECT_EQ(stream(), "idle");
    EXPECT_EQ(client().Query("INFO", "FVER").value, "1.53");

    // A printer pulled out in the middle of a command comes back without it.
    ASSERT_EQ(client().Send(stray), 0);
    client().Close();
    Control("replug " + serial());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 2; }));
    EXPECT_EQ(stream(), "idle");
    ASSERT_EQ(client().Open(), 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
}

TEST_F(EmulatedPrinter, LeavesAndComesBack)
{
    Connect();
    // A read waiting for a reply that never comes ends when the printer goes.
    std::thread puller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        emulator().Unplug(serial());
    });
    unsigned char buffer[8];
    int got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(libusb_bulk_transfer(client().handle(), 0x82, buffer, 8, &got, 5000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    puller.join();
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Departures() == 1; }));
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_NO_DEVICE);
    client().Close();

    EXPECT_EQ(emulator().Execute("unplug " + serial()), "ERR not plugged\n");
    Control("plug " + serial());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 2; }));
    ASSERT_EQ(client().Open(), 0);
    EXPECT_EQ(client().Query("INFO", "SERIAL_NUMBER").value, serial());

    Control("replug " + serial());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 3 && client().Departures() == 2; }));
    ASSERT_EQ(client().Open(), 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
}

// Every client gets its own hot-plug events: another client whose event
// socket has the same descriptor number (every backend the scheduler starts
// has the same) takes none away, and the sockets of ended clients go.
TEST_F(EmulatedPrinter, EveryClientGetsItsOwnHotPlugEvents)
{
    Connect();
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 1; }));
    // This client's event socket, by its descriptor number.
    const std::string mine = "-" + std::to_string(getpid()) + "-";
    int number = -1;
    for (const auto& entry : std::filesystem::directory_iterator(emulator().RootDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) == 0 && name.find(mine) != std::string::npos)
            number = std::atoi(name.c_str() + 5);
    }
    ASSERT_GT(number, 2) << "the event socket keeps its own name";
    for (int round = 0; round < 3; ++round) {
        const pid_t other = fork();
        if (other == 0) {
            // Another client whose socket gets the same number.
            for (int fd = 3; fd < 1024; ++fd)
                close(fd);
            int events = -1;
            do
                events = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
            while (events >= 0 && events < number);
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = 1;
            _exit(events == number && bind(events, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(other, &status, 0), other);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other client's socket is not #" << number;
    }
    Control("replug " + serial());
    ASSERT_TRUE(client().WaitFor(3000, [&] { return client().Arrivals() == 2 && client().Departures() == 1; }));
    int sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator(emulator().RootDir()))
        sockets += entry.path().filename().string().rfind("event", 0) == 0 && entry.is_socket();
    EXPECT_EQ(sockets, 1) << "the ended clients' sockets are removed";
}

TEST_F(EmulatedPrinter, APrinterHeldByADeadProgramIsFreeAgain)
{
    // Another process opens and claims the printer, waits on a read, and
    // is killed: its claim and transfer go with it, as with the kernel, even
    // when it dies in the middle of a request.
    ASSERT_TRUE(client().Start());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() >= 1; }));
    for (const char* way : {"hold", "hold-mid-request"}) {
        SCOPED_TRACE(way);
        const pid_t child = rt50test::StartHoldingProbe(way);
        ASSERT_GT(child, 0);
        EXPECT_EQ(client().Open(), LIBUSB_ERROR_BUSY);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        // The emulator notices the closed connection on its own thread.
        EXPECT_TRUE(client().WaitFor(2000, [&] { return client().Open() == 0; }));
        EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
        client().Close();
    }
}

TEST_F(EmulatedPrinter, SeveralPrintersAtOnce)
{
    Control("add RT50TEST0002");
    Control("add RT50TEST0003");
    ASSERT_TRUE(client().Start());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 3; }));
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(client().context(), &list);
    std::vector<std::string> serials;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_handle* handle = nullptr;
        libusb_device_descriptor descriptor{};
        libusb_get_device_descriptor(list[i], &descriptor);
        if (descriptor.idVendor != 0x3A7F || libusb_open(list[i], &handle) != 0)
            continue;
        unsigned char text[64] = {};
        if (libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text) > 0)
            serials.push_back(reinterpret_cast<char*>(text));
        libusb_close(handle);
    }
    libusb_free_device_list(list, 1);
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string>{"RT50TEST0001", "RT50TEST0002", "RT50TEST0003"}));

    // Pulling one leaves the others alone.
    Control("unplug RT50TEST0002");
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Departures() == 1; }));
    EXPECT_EQ(emulator().Execute("list"),
              "RT50TEST0001 plugged /dev/bus/usb/001/002\nRT50TEST0002 unplugged\n"
              "RT50TEST0003 plugged /dev/bus/usb/001/004\nOK\n");
}

// True when the printer's device node polls writable, which is how usbfs
// tells libusb that a transfer can be reaped.
bool NodeReady(const std::string& node, int timeoutMs)
{
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    pollfd entry = {fd, POLLOUT, 0};
    const bool ready = poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLOUT) != 0;
    close(fd);
    return ready;
}

TEST_F(EmulatedPrinter, IdleClientsSleepUntilATransferFinishes)
{
    Connect();
    const std::string node = emulator().RootDir() + "/dev/bus/usb/001/002";
    EXPECT_FALSE(NodeReady(node, 0));

    // A reply that will come late: the read waits, the node stays quiet
    // until the reply is due, then wakes the client by itself.
    Control("fault " + serial() + " slow 400");
    ASSERT_EQ(client().Send(rt50test::Packet("STATUS", nullptr)), 0);
    unsigned char header[8];
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    bool done = false;
    libusb_fill_bulk_transfer(transfer, client().handle(), 0x82, header, sizeof header,
                              [](libusb_transfer* t) { *static_cast<bool*>(t->user_data) = true; },
                              &done, 5000);
    ASSERT_EQ(libusb_submit_transfer(transfer), 0);
    EXPECT_FALSE(NodeReady(node, 50));
    EXPECT_TRUE(NodeReady(node, 2000));
    ASSERT_TRUE(client().WaitFor(2000, [&] { return done; }));
    EXPECT_EQ(transfer->status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 8), "00000005");
    libusb_free_transfer(transfer);
    EXPECT_FALSE(NodeReady(node, 0));
}

TEST_F(EmulatedPrinter, ControlCommandsCheckTheirArguments)
{
    const std::string show = emulator().Execute("show " + serial());
    EXPECT_NE(show.find("status=0\n"), std::string::npos) << show;
    EXPECT_NE(show.find("plugged=1\n"), std::string::npos) << show;
    EXPECT_EQ(show.substr(show.size() - 3), "OK\n");
    for (const char* line : {"", "frobnicate", "show", "show NOPE", "set RT50TEST0001 status -1",
                             "set RT50TEST0001 status 12x", "set RT50TEST0001 colour 3",
                             "fault RT50TEST0001 slow", "fault RT50TEST0001 stall sideways",
                             "fault RT50TEST0001 explode", "add bad/serial", "add RT50TEST0001",
                             "plug RT50TEST0001"})
        EXPECT_EQ(emulator().Execute(line).substr(0, 4), "ERR ") << line;
    EXPECT_FALSE(emulator().QuitRequested());
    EXPECT_EQ(emulator().Execute("quit"), "OK\n");
    EXPECT_TRUE(emulator().QuitRequested());
}

TEST_F(EmulatedPrinter, ControlSocketServesLineCommands)
{
    rt50emu::ControlServer server(emulator());
    const std::string path = outputFolder() + "/ctl";
    ASSERT_EQ(server.Start(path), "");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "set " + serial() + " status 1000\nshow " + serial() + "\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string reply;
    char chunk[512];
    while (reply.find("lasterror=") == std::string::npos || reply.substr(reply.size() - 3) != "OK\n") {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        reply.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    EXPECT_EQ(reply.rfind("OK\nserial=RT50TEST0001\n", 0), 0u) << reply;
    EXPECT_NE(reply.find("status=1000\n"), std::string::npos);
    server.Stop();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
