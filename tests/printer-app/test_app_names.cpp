// The names of the application's printers: the device URI of a serial
// number and back, as PAPPL's state file, the add command and Create-Printer
// bring them (any text), and the printer's name.
#include "Rt50Uri.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Rt50Uri, ASerialMakesItsUriAndOnlyAValidSerialComesBack)
{
    char uri[256];
    ASSERT_TRUE(Rt50DeviceUri("RT50TEST0001", uri, sizeof uri));
    EXPECT_STREQ(uri, "vantora-rt50://VANTORA/RT-50?serial=RT50TEST0001");
    EXPECT_EQ(SerialInRt50Uri(uri), "RT50TEST0001");
    EXPECT_EQ(PrinterNameForSerial("RT50TEST0001"), "VANTORA-RT-50_RT50TEST0001");

    // A serial that could name other files, or none, makes no URI.
    for (const char* serial : {"", "../etc", "a/b", "A B", "x;y", "\x01"})
        EXPECT_FALSE(Rt50DeviceUri(serial, uri, sizeof uri)) << serial;
    EXPECT_FALSE(Rt50DeviceUri(std::string(300, 'A'), uri, sizeof uri));
    // The buffer must hold the whole URI and its end.
    const size_t exact = std::string("vantora-rt50://VANTORA/RT-50?serial=RT50TEST0001").size();
    EXPECT_FALSE(Rt50DeviceUri("RT50TEST0001", uri, exact));
    EXPECT_TRUE(Rt50DeviceUri("RT50TEST0001", uri, exact + 1));
    EXPECT_FALSE(Rt50DeviceUri("RT50TEST0001", nullptr, 0));

    // Any other URI, or this one with a serial that is not valid, has none.
    for (const char* other : {"", "usb://VANTORA/RT-50?serial=RT50TEST0001",
                              "vantora-rt50://VANTORA/RT-51?serial=RT50TEST0001",
                              "VANTORA-RT50://VANTORA/RT-50?serial=RT50TEST0001",
                              "vantora-rt50://VANTORA/RT-50?serial=", "vantora-rt50://VANTORA/RT-50?serial=../x",
                              "vantora-rt50://VANTORA/RT-50?serial=RT50TEST0001&x=1",
                              "vantora-rt50://VANTORA/RT-50?serial=RT50 TEST", "vantora-rt50://VANTORA/RT-50"})
        EXPECT_EQ(SerialInRt50Uri(other), "") << other;
    EXPECT_EQ(SerialInRt50Uri(nullptr), "");
}

}  // namespace
