// GoogleTest fixture: the emulated RT-50 of Rt50EmulatorTest and a libusb
// client (UsbClient) that has found it, for tests of the emulator itself and
// of libraries that talk to the printer through libusb.
#pragma once

#include "Rt50EmulatorFixture.h"
#include "UsbTestClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace rt50test {

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

}  // namespace rt50test
