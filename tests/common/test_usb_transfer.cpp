// The USB transfer layer and the printer's queries, with real libusb against
// the emulated RT-50: good replies, every kind of bad one, the chunks of a
// send, what a job sender learns when a write fails part-way, and the device
// ID.
#include "EmulatedPrinter.h"
#include "PrinterQueries.h"
#include "UsbTransfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using rt50test::Packet;

class UsbIo : public rt50test::EmulatedPrinter {
protected:
    // Time-outs short enough that a silent printer costs a test little.
    void SetUp() override
    {
        EmulatedPrinter::SetUp();
        UsbTimeouts timeouts;
        timeouts.bulkMs = 200;
        timeouts.deviceIdMs = 1000;
        timeouts.replyWaitMs = 300;
        SetUsbTimeouts(timeouts);
        Connect();
    }

    void TearDown() override
    {
        SetUsbTimeouts(UsbTimeouts());
        EmulatedPrinter::TearDown();
    }

    libusb_device_handle* handle() { return client().handle(); }

    void Fault(const std::string& fault) { Control("fault " + serial() + " " + fault); }

    // One exchange through DeviceIO: its result, and the value on success.
    int Exchange(const char* command, const char* param, std::string* value = nullptr)
    {
        DeviceCmd cmd;
        cmd.MakeCmd(command, param, -1, nullptr);
        DeviceRecv reply(-1, nullptr);
        const int result = DeviceIO(handle(), &cmd, &reply);
        char text[64] = {};
        reply.GetEffectiveDataAsString(text, sizeof text);
        if (value != nullptr)
            *value = text;
        return result;
    }
};

// A valid CNTRL packet `size` bytes long.
std::vector<uint8_t> Filler(size_t size)
{
    return Packet("CNTRL", "FILLER", std::vector<uint8_t>(size - 32, '0'));
}

TEST_F(UsbIo, QueriesReadEveryValue)
{
    for (const char* change : {"status 1000", "media 161", "class 3", "initial 700", "remain 650",
                               "firmware 2.04", "counter 123456"})
        Control("set " + serial() + " " + change);
    EXPECT_EQ(GetStatus(handle()), 1000);
    char value[kQueryValueSize];
    EXPECT_EQ(GetSerialNo(handle(), value), static_cast<int>(serial().size()));
    EXPECT_EQ(std::string(value), serial());
    const std::pair<int (*)(libusb_device_handle*, char*, size_t), const char*> queries[] = {
        {GetMediaSize, "00161"}, {GetMediaClass, "3"}, {GetMediaInitial, "0000700"},
        {GetMediaRemain, "0000650"}, {GetMediaRemainHalf, "00001300"}, {GetFirmVersion, "2.04"}};
    for (const auto& query : queries) {
        EXPECT_EQ(query.first(handle(), value, sizeof value), static_cast<int>(std::strlen(query.second)));
        EXPECT_STREQ(value, query.second);
    }
    EXPECT_EQ(GetTotalCount(handle(), value, false), 8);
    EXPECT_STREQ(value, "00123456");

    // The numbers in the answers, after the leading characters the status
    // file drops; anything but digits reads as unknown.
    EXPECT_EQ(LifeCounterOfAnswer(value), 123456);
    EXPECT_EQ(MediaCodeOfAnswer("00161"), 161);
    EXPECT_EQ(MediaCountOfAnswer("0000700"), 700);
    EXPECT_EQ(MediaCountOfAnswer("1230120"), 120);
    for (const char* odd : {"1x50", "", "0000", "0000-5", "00001 ", "99999999999999"})
        EXPECT_EQ(MediaCountOfAnswer(odd), -1) << odd;
    EXPECT_EQ(MediaCodeOfAnswer(nullptr), -1);

    // A value longer than the caller's buffer is cut, never written past it.
    std::vector<char> small(4, 'x');
    EXPECT_EQ(GetSerialNo(handle(), small.data(), small.size()), 3);
    EXPECT_STREQ(small.data(), serial().substr(0, 3).c_str());
    EXPECT_EQ(GetStatus(nullptr), kStatusFailed);
    EXPECT_EQ(GetFirmVersion(handle(), nullptr), -1);
}

TEST_F(UsbIo, RepliesThatBreakTheRulesFailTheExchange)
{
    char value[kQueryValueSize] = "stale";
    Fault("noanswer");
    EXPECT_EQ(GetStatus(handle()), kStatusFailed);
    Fault("noanswer");
    EXPECT_EQ(Exchange("INFO", "FVER"), LIBUSB_ERROR_TIMEOUT);

    Fault("badheader");
    EXPECT_EQ(Exchange("INFO", "FVER"), kProtoInvalid);
    Fault("badheader");
    EXPECT_EQ(GetFirmVersion(handle(), value), -1);
    EXPECT_STREQ(value, "");
    Fault("badlength 0");
    EXPECT_EQ(Exchange("INFO", "FVER"), kProtoInvalid);
    // 4089 data bytes do not fit a 4096-byte reply: refused on the header,
    // so the data are still in the printer.
    Fault("badlength 4089");
    EXPECT_EQ(Exchange("INFO", "FVER"), kProtoInvalid);
    unsigned char rest[16] = {};
    int got = 0;
    EXPECT_EQ(USB_Read(handle(), rest, sizeof rest, &got), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), static_cast<size_t>(got)), "1.53\r");

    // Slower than the time-out fails, slower but within it does not.
    Fault("slow 400");
    EXPECT_EQ(GetStatus(handle()), kStatusFailed);
    Fault("slow 50");
    EXPECT_EQ(GetStatus(handle()), 0);
    // The header in a transfer of its own is what the reader expects anyway.
    Fault("splitreply");
    EXPECT_EQ(GetFirmVersion(handle(), value), 4);

    // A halted endpoint fails every exchange until the caller clears it.
    Fault("stall in");
    EXPECT_EQ(Exchange("STATUS", nullptr), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(GetStatus(handle()), kStatusFailed);
    EXPECT_EQ(libusb_clear_halt(handle(), kRt50EndpointIn), 0);
    EXPECT_EQ(GetStatus(handle()), 0);

    Control("unplug " + serial());
    EXPECT_EQ(Exchange("STATUS", nullptr), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(GetSerialNo(handle(), value), -1);
}

TEST_F(UsbIo, WritesGoOutInTheProtocolsChunks)
{
    EXPECT_EQ(deviceWrite(handle(), Filler(32).data(), 32), 0);
    EXPECT_EQ(deviceWrite(handle(), Filler(1000).data(), 1000), 0);
    EXPECT_EQ(deviceWrite(handle(), Filler(70000).data(), 70000), 0);
    EXPECT_EQ(Shown("outsizes"), "32,744,256,65536,4208,256");
    EXPECT_EQ(Shown("errors"), "0");

    DeviceCmd empty;
    EXPECT_EQ(deviceWrite(handle(), &empty), kProtoInvalid);
    EXPECT_EQ(deviceWrite(handle(), Filler(32).data(), 0), kProtoInvalid);
    EXPECT_EQ(deviceWrite(nullptr, Filler(32).data(), 32), kProtoInvalid);
    EXPECT_EQ(Shown("outcount"), "6");
}

TEST_F(UsbIo, AFailedWriteTellsHowMuchThePrinterTook)
{
    // The link is too slow for the caller's time-out: what went out is
    // counted exactly, and sending the rest completes the stream.
    Control("set " + serial() + " rate 200000");
    const std::vector<uint8_t> job = Filler(70000);
    int sent = -1;
    EXPECT_EQ(deviceWrite(handle(), job.data(), 70000, &sent, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 70000);
    int rest = -1;
    EXPECT_EQ(deviceWrite(handle(), job.data() + sent, 70000 - sent, &rest, 2000), 0);
    EXPECT_EQ(sent + rest, 70000);
    EXPECT_EQ(GetStatus(handle()), 0);
    EXPECT_EQ(Shown("errors"), "0");

    Fault("stallwrite");
    EXPECT_EQ(deviceWrite(handle(), job.data(), 32, &sent, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(sent, 0);
    Control("set " + serial() + " rate 0");
    Fault("unplugafter 5000");
    EXPECT_EQ(deviceWrite(handle(), job.data(), 70000, &sent, 2000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(sent, 5000);
}

TEST_F(UsbIo, TotalCountWaitLiesBetweenCommandAndReply)
{
    // A reply ready 400 ms after its command: a read that starts at once
    // gives up after 200 ms; after the wait of 600 ms the reply is there.
    UsbTimeouts timeouts = GetUsbTimeouts();
    timeouts.replyWaitMs = 600;
    SetUsbTimeouts(timeouts);
    char value[kQueryValueSize];
    Fault("slow 400");
    EXPECT_EQ(GetTotalCount(handle(), value, false), -1);
    Fault("slow 400");
    EXPECT_EQ(GetTotalCount(handle(), value, true), 8);
    EXPECT_STREQ(value, "00000000");
}

TEST_F(UsbIo, DeviceIdInEitherByteOrderCutToTheBuffer)
{
    const std::string id = client().DeviceId();
    std::vector<char> buffer(2048, 'x');
    EXPECT_EQ(get_device_id(handle(), buffer.data(), buffer.size()), 0);
    EXPECT_EQ(std::string(buffer.data()), id);
    Control("set " + serial() + " idorder le");
    EXPECT_EQ(get_device_id(handle(), buffer.data(), buffer.size()), 0);
    EXPECT_EQ(std::string(buffer.data()), id);

    // Cut to a buffer of 20 bytes: 18 characters and the terminator.
    std::vector<char> small(20, 'x');
    EXPECT_EQ(get_device_id(handle(), small.data(), small.size()), 0);
    EXPECT_EQ(std::string(small.data()), id.substr(0, 18));
    // More than one control transfer carries.
    std::vector<char> large(70000, 'x');
    EXPECT_EQ(get_device_id(handle(), large.data(), large.size()), 0);
    EXPECT_EQ(std::string(large.data()), id);

    // Too short to name maker and model, by either byte order.
    Control("set " + serial() + " deviceid MODEL:RT-50");
    EXPECT_EQ(get_device_id(handle(), buffer.data(), buffer.size()), -1);
    EXPECT_STREQ(buffer.data(), "");
    std::vector<char> tiny(1, 'x');
    EXPECT_EQ(get_device_id(handle(), tiny.data(), tiny.size()), -1);
    EXPECT_EQ(tiny[0], '\0');
}

}  // namespace
