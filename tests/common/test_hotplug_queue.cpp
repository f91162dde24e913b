// The hot-plug queue with the emulated printer's libusb device: a printer
// that leaves before anyone acted on its arrival is forgotten, one that
// leaves after is reported as gone, news comes in order, and a wait ends on
// news, a wake or a stop.
#include "HotplugQueue.h"
#include "PrinterIdentity.h"
#include "Rt50EmulatorFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class HotplugNews : public rt50emu::Rt50EmulatorTest {
protected:
    void SetUp() override
    {
        rt50emu::Rt50EmulatorTest::SetUp();
        ASSERT_EQ(libusb_init(&m_context), 0);
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        for (ssize_t i = 0; i < count && m_device == nullptr; ++i) {
            libusb_device_descriptor descriptor;
            if (libusb_get_device_descriptor(list[i], &descriptor) == 0 &&
                IsRt50UsbId(descriptor.idVendor, descriptor.idProduct))
                m_device = libusb_ref_device(list[i]);
        }
        if (list != nullptr)
            libusb_free_device_list(list, 1);
        ASSERT_NE(m_device, nullptr);
    }

    void TearDown() override
    {
        if (m_device != nullptr)
            libusb_unref_device(m_device);
        if (m_context != nullptr)
            libusb_exit(m_context);
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    libusb_context* m_context = nullptr;
    libusb_device* m_device = nullptr;
};

TEST_F(HotplugNews, ArrivalsAndDeparturesInOrderAndAnUnservedArrivalForgottenOnLeaving)
{
    HotplugQueue queue;
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    EXPECT_TRUE(queue.TakeDepartures().empty());

    // Plugged in and out before the loop looked: nothing to do.
    queue.Arrived(m_device);
    queue.Left(m_device);
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    EXPECT_TRUE(queue.TakeDepartures().empty());

    // Taken, then gone: the departure is reported once.
    queue.Arrived(m_device);
    libusb_device* arrived = queue.TakeArrival();
    EXPECT_EQ(arrived, m_device);
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    queue.Left(m_device);
    std::vector<libusb_device*> departed = queue.TakeDepartures();
    ASSERT_EQ(departed.size(), 1u);
    EXPECT_EQ(departed[0], m_device);
    EXPECT_TRUE(queue.TakeDepartures().empty());
    // The taker owns the references it was handed.
    libusb_unref_device(arrived);
    libusb_unref_device(departed[0]);

    // Two plugs of one device: the first arrival is the one a departure drops.
    queue.Arrived(m_device);
    queue.Arrived(m_device);
    queue.Left(m_device);
    arrived = queue.TakeArrival();
    EXPECT_EQ(arrived, m_device);
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    libusb_unref_device(arrived);

    // What nobody took is let go (the device stays usable).
    queue.Arrived(m_device);
    queue.Clear();
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    libusb_device_descriptor descriptor;
    EXPECT_EQ(libusb_get_device_descriptor(m_device, &descriptor), 0);
    queue.Arrived(nullptr);
    queue.Left(nullptr);
    EXPECT_EQ(queue.TakeArrival(), nullptr);
    queue.Arrived(m_device);   // left queued: the destructor lets it go
}

std::atomic<bool> g_stop{false};

bool Stop()
{
    return g_stop;
}

TEST_F(HotplugNews, AWaitEndsOnNewsAWakeOrAStop)
{
    using namespace std::chrono;
    // Each wait below would last two minutes if nothing ended it; the
    // bounds are generous for a loaded machine.
    const milliseconds longWait(120000);
    const seconds ended(60);
    HotplugQueue queue;

    auto waited = [&](auto&& trigger) {
        const auto start = steady_clock::now();
        std::thread other([&] {
            std::this_thread::sleep_for(milliseconds(50));
            trigger();
        });
        queue.WaitForNews(longWait, Stop);
        other.join();
        return steady_clock::now() - start;
    };
    EXPECT_LT(waited([&] { queue.Arrived(m_device); }), ended);
    libusb_unref_device(queue.TakeArrival());
    EXPECT_LT(waited([&] { queue.Wake(); }), ended);
    EXPECT_LT(waited([&] {
                  g_stop = true;
                  queue.Wake();
              }),
              ended);
    // A stop already asked for ends the wait at once; news already queued too.
    const auto start = steady_clock::now();
    queue.WaitForNews(longWait, Stop);
    g_stop = false;
    queue.Arrived(m_device);
    queue.WaitForNews(longWait, nullptr);
    EXPECT_LT(steady_clock::now() - start, ended);
    // Without news the wait lasts its time.
    queue.Clear();
    const auto quiet = steady_clock::now();
    queue.WaitForNews(milliseconds(100), Stop);
    EXPECT_GE(steady_clock::now() - quiet, milliseconds(100));
}

}  // namespace
