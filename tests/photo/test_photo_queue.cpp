// A queue of the RT-50 on a private CUPS scheduler with the package's MIME
// rules: a phone's HEIC photo, which CUPS itself does not know, printed
// with plain lp reaches the photo filter and prints upright.
#include "FilterTestKit.h"
#include "private_cupsd.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace filtertest;

namespace {

TEST(PhotoQueue, HeicPhotoPrintedWithLpReachesThePhotoFilter)
{
    vantora_test::CupsdOptions options;
    options.ppd = BuiltPpd();
    options.filters = {FilterProgram(), VANTORA_PHOTO_PROGRAM};
    vantora_test::PrivateCupsd cupsd(options);
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    ASSERT_TRUE(cupsd.AddQueue("VANTORA-RT-50", "vantora-zpxbackend://VANTORA/RT-50?serial=HEIC1")) << cupsd.ErrorLog();

    JobOneStartFile start;
    ASSERT_EQ(cupsd.Run({"lp", "-d", "VANTORA-RT-50", VANTORA_TEST_PHOTOS "/scene.heic"}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(cupsd.WaitForJobsDone("VANTORA-RT-50", 60)) << cupsd.ErrorLog();
    std::ifstream prn(cupsd.jobDir() + "/1.prn", std::ios::binary);
    ASSERT_TRUE(prn.good()) << cupsd.ErrorLog();
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(prn)), std::istreambuf_iterator<char>());
    std::vector<StreamSheet> sheets;
    std::string error;
    ASSERT_TRUE(CollectSheets(Packets(stream), sheets, &error)) << error;
    ASSERT_EQ(sheets.size(), 1u) << cupsd.ErrorLog();
    ASSERT_TRUE(sheets[0].complete);
    if (ImageLibraryPresent()) {
        // The scene's green top-left corner at the page's top left.
        const StreamSheet& sheet = sheets[0];
        const int left = (sheet.cyan.width - MediaWidthForMulticut(sheet.multicut)) / 2 + 100;
        EXPECT_LT(sheet.cyan.At(left, 100), 60);
        EXPECT_GT(sheet.magenta.At(left, 100), 190);
        EXPECT_LT(sheet.yellow.At(left, 100), 60);
    }
}

}  // namespace
