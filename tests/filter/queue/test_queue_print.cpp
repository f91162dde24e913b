// A queue of the RT-50 on a private CUPS scheduler: a photo printed with
// plain lp goes through the PPD's filters and reaches the backend as a
// command stream that fills the page; the queue's device URI and the
// daemon's status file are read the way the filter's common unit reads them.
#include "FilterTestKit.h"
#include "private_cupsd.h"
#include "SettingsLookup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace filtertest;

namespace {

bool WaitForFile(const std::string& path, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            return true;
        usleep(100000);
    }
    return false;
}

TEST(QueuePrint, PhotoPrintedWithLpFillsThePage)
{
    vantora_test::CupsdOptions options;
    options.ppd = BuiltPpd();
    options.filters = {FilterProgram(), VANTORA_PHOTO_PROGRAM};
    vantora_test::PrivateCupsd cupsd(options);
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    const std::string serial = "QT" + std::to_string(getpid());
    const std::string uri = "vantora-zpxbackend://VANTORA/RT-50?serial=" + serial;
    ASSERT_TRUE(cupsd.AddQueue("VANTORA-RT-50", uri)) << cupsd.ErrorLog();

    char found[256] = {};
    EXPECT_EQ(_GetCupsDeviceURI("VANTORA-RT-50", found, sizeof found), 0);
    EXPECT_EQ(uri, found);
    char tooSmall[16] = {};
    EXPECT_EQ(_GetCupsDeviceURI("VANTORA-RT-50", tooSmall, sizeof tooSmall), -1);

    // The daemon's status file of this printer.
    const std::string statusPath = "/tmp/RT-50_" + serial + ".log";
    FILE* status = std::fopen(statusPath.c_str(), "w");
    ASSERT_NE(status, nullptr);
    std::fputs("STATUS=\"00000\"\nMEDIA=\"102x153mm\"\n", status);
    std::fclose(status);
    char media[32] = {};
    EXPECT_EQ(_GetValuePrinterInfoFile("VANTORA-RT-50", "MEDIA=", "RT-50", media, sizeof media), 0);
    EXPECT_STREQ(media, "102x153mm");
    unlink(statusPath.c_str());

    // A photo (3:2, no white in it) printed with lp and no options.
    TempDir dir;
    const std::string ps = dir.Path("photo.ps");
    FILE* file = std::fopen(ps.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("%!PS\n<< /PageSize [432 288] >> setpagedevice\n1 0 0 setrgbcolor 0 0 216 288 rectfill\n"
               "0 0 1 setrgbcolor 216 0 216 288 rectfill\nshowpage\n",
               file);
    std::fclose(file);
    const std::string png = dir.Path("photo.png");
    ASSERT_EQ(RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=png16m", "-r100",
                                         "-sOutputFile=" + png, ps},
                         "", "")
                  .exitStatus,
              0);
    chmod(dir.Path().c_str(), 0755);
    chmod(png.c_str(), 0644);

    JobOneStartFile start;
    ASSERT_EQ(cupsd.Run({"lp", "-d", "VANTORA-RT-50", png}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(cupsd.WaitForJobsDone("VANTORA-RT-50", 60)) << cupsd.ErrorLog();
    const std::string prn = cupsd.jobDir() + "/1.prn";
    ASSERT_TRUE(WaitForFile(prn, 5)) << cupsd.ErrorLog();

    std::vector<uint8_t> stream;
    FILE* in = std::fopen(prn.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    int c;
    while ((c = std::fgetc(in)) != EOF)
        stream.push_back(static_cast<uint8_t>(c));
    std::fclose(in);
    std::vector<StreamPacket> packets = Packets(stream);
    std::vector<StreamSheet> sheets;
    std::string error;
    ASSERT_TRUE(CollectSheets(packets, sheets, &error)) << error;
    ASSERT_EQ(sheets.size(), 1u) << cupsd.ErrorLog();
    ASSERT_TRUE(sheets[0].complete);
    EXPECT_EQ(sheets[0].multicut, 48);
    if (ImageLibraryPresent()) {
        for (int y : {0, 918, 1835}) {
            int white = 0;
            for (int x = 71; x <= 1336; ++x)
                white += sheets[0].cyan.At(x, y) == 255 && sheets[0].magenta.At(x, y) == 255 &&
                         sheets[0].yellow.At(x, y) == 255;
            EXPECT_LE(white, 4) << "row " << y;
        }
    }
}

}  // namespace
