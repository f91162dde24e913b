// GoogleTest fixture with an emulated RT-50 on a umockdev testbed, for the
// tests of any program that talks to the printer through libusb. Link
// vantora_rt50_emulator_gtest_main, which runs the test program under the
// umockdev preload library.
//
//   class MyTest : public rt50emu::Rt50EmulatorTest {};
//   TEST_F(MyTest, ReadsStatus) {
//       emulator().Execute("set " + serial() + " status 1000");
//       ... libusb_init(), talk to the printer, libusb_exit() ...
//   }
//
// The testbed exists from SetUp on: call libusb_init inside the test (or in
// a SetUp that runs after this one), and libusb_exit before TearDown.
#pragma once

#include "Emulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace rt50emu {

class Rt50EmulatorTest : public ::testing::Test {
protected:
    // The first printer's serial number; more can be added with AddPrinter.
    const std::string& serial() const { return m_serial; }
    Emulator& emulator() { return *m_emulator; }
    PrinterModel& printer() { return *m_emulator->Model(m_serial); }
    // Folder in which printed sheets are recorded (removed after the test).
    const std::string& outputFolder() const { return m_output; }

    // Printing time of one sheet for the printers of this test.
    virtual int PrintMs() const { return 100; }
    // Any other emulator option a test needs.
    virtual void AdjustOptions(EmulatorOptions&) const {}

    // Runs one control line; the test fails unless the emulator answers OK.
    void Control(const std::string& line) { ASSERT_EQ(emulator().Execute(line), "OK\n") << line; }

    // One value of the emulator's "show" for a printer (the first one by
    // default); "?" when the key is not shown.
    std::string Shown(const std::string& key) { return ShownFor(m_serial, key); }
    std::string ShownFor(const std::string& printerSerial, const std::string& key)
    {
        const std::string show = "\n" + emulator().Execute("show " + printerSerial);
        const size_t at = show.find("\n" + key + "=");
        if (at == std::string::npos)
            return "?";
        const size_t begin = at + key.size() + 2;
        return show.substr(begin, show.find('\n', begin) - begin);
    }

    void SetUp() override
    {
        char folder[] = "/tmp/rt50out.XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_output = folder;
        EmulatorOptions options;
        options.outputFolder = m_output;
        options.printMs = PrintMs();
        AdjustOptions(options);
        m_emulator = std::make_unique<Emulator>(options);
        ASSERT_TRUE(m_emulator->AddPrinter(m_serial));
    }

    void TearDown() override
    {
        m_emulator.reset();
        std::error_code error;
        std::filesystem::remove_all(m_output, error);
    }

private:
    std::string m_serial = "RT50TEST0001";
    std::string m_output;
    std::unique_ptr<Emulator> m_emulator;
};

}  // namespace rt50emu
