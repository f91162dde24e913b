// The emulated RT-50 is as strict as real hardware where clients are easily
// wrong: halted endpoints, replies in pieces, writes that take time or never
// finish, a printer that leaves in the middle of a plane, and an unplug that
// open handles learn of as from usbfs.
#include "EmulatedPrinter.h"
#include "HoldingProbe.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

using rt50test::EmulatedPrinter;
using rt50test::Packet;

// A CNTRL packet whose payload makes it `size` bytes long.
std::vector<uint8_t> Filler(size_t size)
{
    return Packet("CNTRL", "FILLER", std::vector<uint8_t>(size - 32, '0'));
}

// One bulk OUT transfer; *sent gets what the printer took.
int Out(libusb_device_handle* handle, std::vector<uint8_t> bytes, int* sent, unsigned timeoutMs)
{
    return libusb_bulk_transfer(handle, 0x01, bytes.data(), static_cast<int>(bytes.size()), sent, timeoutMs);
}

// How often libusb's event handling returns in 300 ms when each call may
// sleep 20 ms: about 15 for a quiet node, thousands for one that polls ready
// all the time.
int WakeupsIn300Ms(libusb_context* context)
{
    int wakeups = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        timeval tv = {0, 20000};
        libusb_handle_events_timeout_completed(context, &tv, nullptr);
        ++wakeups;
    }
    return wakeups;
}

size_t PollFdCount(libusb_context* context)
{
    const libusb_pollfd** fds = libusb_get_pollfds(context);
    size_t count = 0;
    while (fds != nullptr && fds[count] != nullptr)
        ++count;
    libusb_free_pollfds(fds);
    return count;
}

// A bus whose device numbers wrap after 6, so that a few arrivals get there.
class SmallBus : public EmulatedPrinter {
    void AdjustOptions(rt50emu::EmulatorOptions& options) const override { options.lastDevnum = 6; }
};

TEST_F(SmallBus, DeviceNumbersStillInUseArePassedOver)
{
    // The first printer's fourth arrival comes round to 2 (free again) and
    // its fifth to 3, which the second printer still holds.
    Control("add RT50TEST0002");
    for (int i = 0; i < 5; ++i)
        Control("replug " + serial());
    EXPECT_EQ(emulator().Execute("list"),
              "RT50TEST0001 plugged /dev/bus/usb/001/004\nRT50TEST0002 plugged /dev/bus/usb/001/003\nOK\n");

    ASSERT_TRUE(client().Start());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() == 2; }));
    libusb_device** devices = nullptr;
    const ssize_t count = libusb_get_device_list(client().context(), &devices);
    int answered = 0;
    for (ssize_t i = 0; i < count; ++i) {
        if (client().Open(devices[i]) == 0 && client().Query("STATUS", nullptr).value == "0000")
            ++answered;
        client().Close();
    }
    libusb_free_device_list(devices, 1);
    EXPECT_EQ(answered, 2);
}

TEST_F(EmulatedPrinter, HaltedEndpointsStayHaltedUntilTheHostClearsThem)
{
    Connect();
    libusb_device_handle* handle = client().handle();
    const std::string f = "fault " + serial() + " ";

    // IN halts twice: each halt lasts until CLEAR_HALT.
    Control(f + "stall in 2");
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(Shown("halted"), "in");
    EXPECT_EQ(libusb_clear_halt(handle, 0x82), 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(libusb_clear_halt(handle, 0x82), 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");

    // OUT: clearing the fault does not clear the halt; the standard
    // requests on the endpoint show and clear it.
    Control(f + "stall out");
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    Control(f + "clear");
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_PIPE);
    unsigned char status[2] = {};
    EXPECT_EQ(libusb_control_transfer(handle, 0x82, 0, 0, 0x01, status, 2, 1000), 2);
    EXPECT_EQ(status[0], 1);
    EXPECT_EQ(libusb_control_transfer(handle, 0x02, 1, 0, 0x01, nullptr, 0, 1000), 0);
    EXPECT_EQ(Shown("halted"), "");
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
}

TEST_F(EmulatedPrinter, SplitReplyGivesTheHeaderInATransferOfItsOwn)
{
    Connect();
    Control("fault " + serial() + " splitreply");
    ASSERT_EQ(client().Send(Packet("STATUS", nullptr)), 0);
    unsigned char reply[64] = {};
    int got = 0;
    ASSERT_EQ(libusb_bulk_transfer(client().handle(), 0x82, reply, sizeof reply, &got, 1000), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), static_cast<size_t>(got)), "00000005");
    ASSERT_EQ(libusb_bulk_transfer(client().handle(), 0x82, reply, sizeof reply, &got, 1000), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), static_cast<size_t>(got)), "0000\r");
    // The next reply comes whole.
    ASSERT_EQ(client().Send(Packet("STATUS", nullptr)), 0);
    ASSERT_EQ(libusb_bulk_transfer(client().handle(), 0x82, reply, sizeof reply, &got, 1000), 0);
    EXPECT_EQ(got, 13);
}

TEST_F(EmulatedPrinter, WritesTakeTheLinksTimeAndWaitForRoomInTheBuffer)
{
    Connect();
    libusb_device_handle* handle = client().handle();

    // At 200 kB/s, 100 kB do not go out in 100 ms; the count taken is exact,
    // so sending the rest completes the packet without a framing error.
    Control("set " + serial() + " rate 200000");
    std::vector<uint8_t> packet = Filler(100000);
    int sent = 0;
    EXPECT_EQ(Out(handle, packet, &sent, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 100000);
    int rest = 0;
    EXPECT_EQ(Out(handle, std::vector<uint8_t>(packet.begin() + sent, packet.end()), &rest, 2000), 0);
    EXPECT_EQ(sent + rest, 100000);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
    EXPECT_EQ(Shown("errors"), "0");

    // A buffer for one and a half sheets: while the first prints, the
    // second stops part-way and goes on once the first is done.
    Control("set " + serial() + " rate 0");
    Control("set " + serial() + " buffer 400000");
    Control("set " + serial() + " printms 600");
    const std::vector<uint8_t> sheet = rt50test::SheetJob(1408, 60);
    ASSERT_EQ(Out(handle, sheet, &sent, 1000), 0);
    EXPECT_EQ(Out(handle, sheet, &sent, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GT(sent, 0);
    EXPECT_LT(static_cast<size_t>(sent), sheet.size());
    EXPECT_EQ(Out(handle, std::vector<uint8_t>(sheet.begin() + sent, sheet.end()), &rest, 3000), 0);
    EXPECT_TRUE(client().WaitFor(3000, [&] { return Shown("printed") == "2"; }));
    EXPECT_EQ(Shown("errors"), "0");
    EXPECT_EQ(Shown("buffered"), "0");
}

TEST_F(EmulatedPrinter, StalledWriteTimesOutAndUnplugCutsAPlane)
{
    Connect();
    libusb_device_handle* handle = client().handle();
    Control("fault " + serial() + " stallwrite");
    int sent = -1;
    EXPECT_EQ(Out(handle, Packet("STATUS", nullptr), &sent, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");

    Control("fault " + serial() + " unplugafter 1000");
    EXPECT_EQ(Out(handle, Filler(5000), &sent, 2000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(sent, 1000);
    EXPECT_TRUE(client().WaitFor(2000, [&] { return client().Departures() == 1; }));
    EXPECT_TRUE(client().WaitFor(2000, [&] { return Shown("plugged") == "0"; }));
}

TEST_F(EmulatedPrinter, UnplugReachesOpenHandlesAsFromUsbfs)
{
    Connect();
    const size_t descriptors = PollFdCount(client().context());
    Control("unplug " + serial());
    // The node reports POLLERR | POLLHUP: libusb drops it from its poll set
    // instead of waking for it again and again.
    EXPECT_LT(WakeupsIn300Ms(client().context()), 40);
    EXPECT_EQ(PollFdCount(client().context()), descriptors - 1);
    EXPECT_EQ(client().Departures(), 1);
    EXPECT_EQ(client().Query("STATUS", nullptr).result, LIBUSB_ERROR_NO_DEVICE);
}

TEST_F(EmulatedPrinter, UnplugSendsNoHangupToASessionHoldingThePrinter)
{
    // A program in a session of its own (a daemon) makes the node its
    // controlling terminal when it opens it; a hang-up would kill it.
    const pid_t child = rt50test::StartHoldingProbe("hold", true);
    ASSERT_GT(child, 0);

    ASSERT_TRUE(client().Start());
    Control("unplug " + serial());
    EXPECT_TRUE(client().WaitFor(2000, [&] { return client().Departures() == 1; }));
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
