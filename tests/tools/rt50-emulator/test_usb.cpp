// Real libusb against the emulated RT-50, in the test process.
#include "Rt50EmulatorFixture.h"
#include "SheetRecorder.h"
#include "UsbTestClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using rt50test::UsbClient;

class EmulatedPrinter : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        Rt50EmulatorTest::SetUp();
        m_client = std::make_unique<UsbClient>();
    }

    // libusb leaves before the testbed does.
    void TearDown() override
    {
        m_client.reset();
        Rt50EmulatorTest::TearDown();
    }

    // Starts libusb and opens the printer found by hot-plug enumeration.
    void Connect()
    {
        ASSERT_TRUE(client().Start());
        ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() >= 1; }));
        ASSERT_EQ(client().Open(), 0);
    }

    UsbClient& client() { return *m_client; }

private:
    std::unique_ptr<UsbClient> m_client;
};

TEST_F(EmulatedPrinter, AnswersEveryQuery)
{
    Connect();
    EXPECT_EQ(client().Query("STATUS", nullptr).value, "0000");
    const auto serial = client().Query("INFO", "SERIAL_NUMBER");
    EXPECT_EQ(serial.result, 0);
    EXPECT_EQ(serial.header, "00000013");
    EXPECT_EQ(serial.value, "RT50TEST0001");
}

}  // namespace
