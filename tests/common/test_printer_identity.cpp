// Identification of the RT-50: the device ID parser on its own, and the
// whole check on the emulated printer with the right and wrong identities.
#include "EmulatedPrinter.h"
#include "PrinterIdentity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The model ParseRt50DeviceId gives for `id`, or "-" when it refuses it.
std::string Model(const std::string& id, size_t size = kModelSize)
{
    std::vector<char> model(size, 'x');
    if (!ParseRt50DeviceId(id.c_str(), model.data(), model.size()))
        return model.front() == 'x' ? "-" : "written on failure";
    return model.data();
}

TEST(DeviceIdParser, FindsMakerAndModelLikeThePrinterFamilyDoes)
{
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:RT-50;"), "RT-50");
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:RT-50;COMMAND SET:ZPX;DESCRIPTION:VANTORA RT-50 Photo Printer;"
                    "CLASS:PRINTER;SERIALNUMBER:A1;"),
              "RT-50");
    // Text after the last ';' is an item; the keys are found inside items;
    // the value runs from the item's first ':'; a later item wins.
    EXPECT_EQ(Model("MODEL:RT-50 Mk2:a;;xMANUFACTURERx: VANTORA Corp"), "RT-50 Mk2:a");
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:RT-50;MODEL:RT-51"), "-");
    EXPECT_EQ(Model("MANUFACTURER:OTHER;MODEL:RT-50;MANUFACTURER:VANTORA"), "RT-50");
    // Only the spelled-out keys count, and both values must be there.
    EXPECT_EQ(Model("MFG:VANTORA;MDL:RT-50;"), "-");
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:;"), "-");
    EXPECT_EQ(Model("MANUFACTURER VANTORA;MODEL RT-50;"), "-");
    EXPECT_EQ(Model(""), "-");
    // A long model is cut to the buffer.
    const std::string longModel = "RT-50" + std::string(300, 'Z');
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:" + longModel), longModel.substr(0, kModelSize - 1));
    EXPECT_EQ(Model("MANUFACTURER:VANTORA;MODEL:RT-50", 3), "RT");
    EXPECT_FALSE(ParseRt50DeviceId(nullptr, nullptr, 0));
}

// The firmware text is the printer's to choose: only its plain characters
// reach pages, logs and IPP attributes, and no more than fit.
TEST(PlainFirmware, KeepsDigitsLettersDotsAndDashesWithinItsLength)
{
    EXPECT_EQ(PlainFirmware("1.53"), "1.53");
    EXPECT_EQ(PlainFirmware("V2.0-beta"), "V2.0-beta");
    EXPECT_EQ(PlainFirmware("<script>alert(1)</script>"), "scriptalert1script");
    EXPECT_EQ(PlainFirmware("1.5\"; rm -rf /;\n\x01&amp;"), "1.5rm-rfamp");
    EXPECT_EQ(PlainFirmware(std::string("1.5\0x", 5)), "1.5x");
    EXPECT_EQ(PlainFirmware("\xc3\xa9t\xc3\xa9"), "t");
    EXPECT_EQ(PlainFirmware(" \t<>"), "");
    const std::string longText(100, '7');
    EXPECT_EQ(PlainFirmware(longText), longText.substr(0, kPlainFirmwareSize));
    // Dropped characters do not count against the length.
    EXPECT_EQ(PlainFirmware(std::string(40, '<') + longText), longText.substr(0, kPlainFirmwareSize));
}

class Identity : public rt50test::EmulatedPrinter {
protected:
    // Opens the printer anew (product strings change with a plug) and runs
    // the check.
    int Identify(std::string* model = nullptr)
    {
        if (client().handle() == nullptr) {
            EXPECT_EQ(client().Open(), 0);
        }
        char text[kModelSize] = "";
        const int result = IdentifyRt50(client().handle(), text);
        if (model != nullptr)
            *model = text;
        return result;
    }

    void Replug()
    {
        client().Close();
        const int arrivals = client().Arrivals();
        Control("replug " + serial());
        ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() > arrivals; }));
    }
};

TEST_F(Identity, AcceptsTheRt50AndNothingElse)
{
    ASSERT_TRUE(client().Start());
    ASSERT_TRUE(client().WaitFor(2000, [&] { return client().Arrivals() >= 1; }));
    std::string model;
    EXPECT_EQ(Identify(&model), kIdentityRt50);
    EXPECT_EQ(model, "RT-50");
    Control("set " + serial() + " idorder le");
    EXPECT_EQ(Identify(), kIdentityRt50);

    Control("set " + serial() + " deviceid MANUFACTURER:OTHER;MODEL:RT-50;");
    EXPECT_EQ(Identify(), kIdentityOtherDeviceId);
    Control("set " + serial() + " deviceid MODEL:RT-50");
    EXPECT_EQ(Identify(), kIdentityNoDeviceId);
    Control("set " + serial() + " deviceid");

    Control("set " + serial() + " product Label Printer");
    Replug();
    EXPECT_EQ(Identify(), kIdentityOtherProduct);
    EXPECT_EQ(IdentifyRt50(nullptr, nullptr), kIdentityBadArgument);
    EXPECT_TRUE(IsRt50UsbId(0x3A7F, 0x000C));
    EXPECT_FALSE(IsRt50UsbId(0x3A7F, 0x000D));
}

}  // namespace
