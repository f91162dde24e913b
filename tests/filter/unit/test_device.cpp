// Device settings from job options and PPD defaults, the RT-50 tables, and
// the bytes of every settings packet.
#include "DeviceEntryRT50.h"
#include "FilterTestKit.h"
#include "MediaSets.h"
#include "SheetCuts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A device configured the way the job driver does it, from an option string.
struct Configured {
    explicit Configured(const char* optionText, ppdfile_s* ppd = nullptr)
    {
        count = cupsParseOptions(optionText, 0, &options);
        device.SetResolution(count, options, ppd);
        device.SetMediaSize(count, options, ppd);
        device.SetBorder(count, options, ppd);
        device.SetSharpness(count, options, ppd);
        device.SetGamma(count, options, ppd);
        device.SetIntensity(count, options, ppd);
        device.SetContrast(count, options, ppd);
        device.SetSaturation(count, options, ppd);
        device.SetColorAdjustment(count, options, ppd);
        device.SetPaperRotate(count, options, ppd);
    }
    ~Configured() { cupsFreeOptions(count, options); }

    // The packets the device writes while `send` runs.
    template <typename F>
    std::vector<StreamPacket> Capture(F send)
    {
        FILE* out = std::tmpfile();
        device.SetOutputFd(fileno(out));
        send(device);
        std::fflush(out);
        std::vector<uint8_t> bytes;
        std::rewind(out);
        int c;
        while ((c = std::fgetc(out)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(out);
        device.SetOutputFd(1);
        return filtertest::Packets(bytes);
    }

    std::vector<StreamPacket> SettingsPackets(ppdfile_s* ppd = nullptr)
    {
        return Capture([&](DeviceEntry& d) {
            d.SendCutterMode(count, options, ppd);
            d.SendOvercoatFinish(count, options, ppd);
            d.SendPrintRetry(count, options, ppd);
            d.SendPrintSpeed(count, options, ppd);
            d.SendDecurl(count, options, ppd);
        });
    }

    int count = 0;
    cups_option_t* options = nullptr;
    DeviceEntry_RT50 device;
};

std::string RawPacket(const StreamPacket& packet)
{
    std::string raw = "\x1bP";
    raw += packet.name + std::string(6 - packet.name.size(), ' ');
    raw += packet.param + std::string(16 - packet.param.size(), ' ');
    raw += packet.rawLengthField;
    raw += packet.PayloadText();
    return raw;
}

TEST(DeviceSettings, DefaultsWithoutOptionsOrPpd)
{
    Configured job("PageSize=102x153mm");
    const DeviceEntry& d = job.device;
    EXPECT_EQ(d.m_settings.resolutionY, 300);
    EXPECT_EQ(d.m_settings.resolutionMode, 0);
    EXPECT_FALSE(d.m_settings.border);
    EXPECT_FALSE(d.m_settings.paperRotate);
    EXPECT_FALSE(d.m_settings.colorAdjustment);
    EXPECT_EQ(d.m_settings.sharpness, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(d.m_settings.gamma[i], 100);
        EXPECT_EQ(d.m_settings.brightness[i], 0);
        EXPECT_EQ(d.m_settings.contrast[i], 0);
    }
    EXPECT_EQ(d.m_settings.chroma, 0);

    const auto packets = job.SettingsPackets();
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(RawPacket(packets[0]), std::string("\x1bPCNTRL CUTTER          0000000800000000"));
    EXPECT_EQ(RawPacket(packets[1]), std::string("\x1bPCNTRL OVERCOAT        0000000800000000"));
    EXPECT_EQ(RawPacket(packets[2]), std::string("\x1bPCNTRL BUFFCNTRL       0000000800000001"));
    EXPECT_EQ(RawPacket(packets[3]), std::string("\x1bPCNTRL PRINTSPEED      0000000800000000"));
    EXPECT_EQ(RawPacket(packets[4]), std::string("\x1bPCNTRL DECURL          00000012020000000000"));
}

TEST(DeviceSettings, SettingPacketValues)
{
    Configured job("PageSize=102x153mm Zpx2InchCut=Enable ZpxOvercoatFinish=Luster ZpxPrintRetry=Disable "
                   "ZpxPrintSpeed=Enable ZpxDecurl=Enable");
    const auto packets = job.SettingsPackets();
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[0].PayloadText(), "00000120");
    EXPECT_EQ(packets[1].PayloadText(), "00000022");
    EXPECT_EQ(packets[2].PayloadText(), "00000000");
    EXPECT_EQ(packets[3].PayloadText(), "00000020");
    EXPECT_EQ(packets[4].PayloadText(), "010000000000");

    Configured other("PageSize=102x153mm ZpxOvercoatFinish=FineMatte ZpxDecurl=Disable");
    const auto more = other.SettingsPackets();
    EXPECT_EQ(more[1].PayloadText(), "00000021");
    EXPECT_EQ(more[4].PayloadText(), "000000000000");

    // Values are compared whole and case-sensitively.
    Configured lower("PageSize=102x153mm ZpxOvercoatFinish=matte ZpxDecurl=Auto Zpx2InchCut=enable");
    const auto odd = lower.SettingsPackets();
    EXPECT_EQ(odd[0].PayloadText(), "00000000");
    EXPECT_EQ(odd[1].PayloadText(), "00000000");
    EXPECT_EQ(odd[4].PayloadText(), "020000000000");

    // 115x115mm may not be cut into 2-inch strips.
    Configured square("PageSize=115x115mm Zpx2InchCut=Enable ZpxOvercoatFinish=Matte");
    const auto sq = square.SettingsPackets();
    EXPECT_EQ(sq[0].PayloadText(), "00000000");
    EXPECT_EQ(sq[1].PayloadText(), "00000001");
}

// The previews' cut positions follow the media table: exactly the sizes the
// table lets be cut get cut rows, at every 2 inches of the page after the
// leading half of its 36-dot bleed; the job is told when its cut is dropped.
TEST(DeviceSettings, TwoInchCutPositionsFollowTheMediaTable)
{
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row) {
        int cuts[kMostTwoInchCuts];
        const int count = TwoInchCutRows(row->multicutCode, row->imageHeight, cuts);
        EXPECT_EQ(SizeTakesTwoInchCut(row->multicutCode), row->twoInchCut == 1) << row->pageSize;
        EXPECT_EQ(count, row->twoInchCut == 1 ? static_cast<int>(row->height / 2) - 1 : 0) << row->pageSize;
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(cuts[i], 18 + 600 * (i + 1)) << row->pageSize << " cut " << i;
    }
    int cuts[kMostTwoInchCuts];
    ASSERT_EQ(TwoInchCutRows(48, 3672, cuts), 2);   // 600 dpi rows
    EXPECT_EQ(cuts[0], 1236);
    EXPECT_EQ(cuts[1], 2436);
    EXPECT_EQ(TwoInchCutRows(99, 1836, cuts), 0);
    EXPECT_EQ(TwoInchCutRows(48, 0, cuts), 0);

    Configured square("PageSize=115x115mm Zpx2InchCut=Enable");
    EXPECT_TRUE(square.device.TwoInchCutRefused(square.count, square.options, nullptr));
    Configured strips("PageSize=102x153mm Zpx2InchCut=Enable");
    EXPECT_FALSE(strips.device.TwoInchCutRefused(strips.count, strips.options, nullptr));
    Configured plain("PageSize=115x115mm");
    EXPECT_FALSE(plain.device.TwoInchCutRefused(plain.count, plain.options, nullptr));
}

TEST(DeviceSettings, ClockPacketCarriesLocalTime)
{
    Configured job("");
    const time_t before = time(nullptr);
    const auto packets = job.Capture([](DeviceEntry& d) { EXPECT_EQ(d.SendSysTime(), 1); });
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].name, "CNTRL");
    EXPECT_EQ(packets[0].param, "SET_SYS_TIME");
    EXPECT_EQ(packets[0].rawLengthField, "00000016");
    ASSERT_EQ(packets[0].payload.size(), 16u);
    EXPECT_EQ(packets[0].payload[14], 0x0D);
    EXPECT_EQ(packets[0].payload[15], 0x00);
    struct tm local {};
    localtime_r(&before, &local);
    char year[16];
    std::snprintf(year, sizeof year, "%04d", local.tm_year + 1900);
    EXPECT_EQ(packets[0].PayloadText().substr(0, 4), year);
    for (int i = 0; i < 14; ++i)
        EXPECT_TRUE(isdigit(packets[0].payload[i])) << i;
}

TEST(DeviceSettings, ColourValuesFromOptions)
{
    Configured a("ZpxSharpness=3 ZpxGamma=-100 ZpxBrightness=-10 ZpxContrast=5 ZpxChroma=-3 ZpxBorder=Enable "
                 "ZpxColorAdjustment=Enable");
    EXPECT_EQ(a.device.m_settings.sharpness, 750);
    EXPECT_EQ(a.device.m_settings.gamma[1], 50);
    EXPECT_EQ(a.device.m_settings.brightness[2], -20);
    EXPECT_EQ(a.device.m_settings.contrast[0], 50);
    EXPECT_EQ(a.device.m_settings.chroma, -30);
    EXPECT_TRUE(a.device.m_settings.border);
    EXPECT_TRUE(a.device.m_settings.colorAdjustment);

    Configured b("ZpxSharpness=9 ZpxGamma=50 ZpxBrightness=abc ZpxContrast=7xyz");
    EXPECT_EQ(b.device.m_settings.sharpness, 0);
    EXPECT_EQ(b.device.m_settings.gamma[0], 141);
    EXPECT_EQ(b.device.m_settings.brightness[0], 0);
    EXPECT_EQ(b.device.m_settings.contrast[0], 70);
    Configured c("ZpxSharpness=-3");
    EXPECT_EQ(c.device.m_settings.sharpness, 0);
    Configured d("ZpxSharpness=-2");
    EXPECT_EQ(d.device.m_settings.sharpness, -1000);
    Configured e("ZpxSharpness=8");
    EXPECT_EQ(e.device.m_settings.sharpness, 1000);
}

TEST(DeviceSettings, CombinedKeysWinOverChannelKeys)
{
    Configured channels("ZpxGammaR=100 ZpxGammaB=-100 ZpxBrightnessG=5 ZpxContrastB=-2");
    EXPECT_EQ(channels.device.m_settings.gamma[0], 200);
    EXPECT_EQ(channels.device.m_settings.gamma[1], 100);
    EXPECT_EQ(channels.device.m_settings.gamma[2], 50);
    EXPECT_EQ(channels.device.m_settings.brightness[0], 0);
    EXPECT_EQ(channels.device.m_settings.brightness[1], 10);
    EXPECT_EQ(channels.device.m_settings.contrast[2], -20);

    Configured both("ZpxGamma=0 ZpxGammaR=100 ZpxBrightness=1 ZpxBrightnessG=5");
    EXPECT_EQ(both.device.m_settings.gamma[0], 100);
    EXPECT_EQ(both.device.m_settings.brightness[1], 2);
}

TEST(DeviceSettings, FarOutOfRangeValuesAreClamped)
{
    Configured big("ZpxGamma=5000 ZpxBrightness=2000000000 ZpxContrast=99999999999999 ZpxChroma=-2000000000");
    EXPECT_EQ(big.device.m_settings.gamma[0], kGammaMax);
    EXPECT_EQ(big.device.m_settings.brightness[0], 1000);
    EXPECT_EQ(big.device.m_settings.contrast[0], 1000);
    EXPECT_EQ(big.device.m_settings.chroma, -1000);

    Configured small("ZpxGamma=-5000 ZpxBrightness=-600 ZpxContrast=-101");
    EXPECT_EQ(small.device.m_settings.gamma[2], kGammaMin);
    EXPECT_EQ(small.device.m_settings.brightness[2], -1000);
    EXPECT_EQ(small.device.m_settings.contrast[2], -1000);
    Configured edge("ZpxBrightness=500 ZpxContrast=100 ZpxChroma=100");
    EXPECT_EQ(edge.device.m_settings.brightness[0], 1000);
    EXPECT_EQ(edge.device.m_settings.contrast[0], 1000);
    EXPECT_EQ(edge.device.m_settings.chroma, 1000);
}

TEST(DeviceSettings, PpdDefaultsApplyWhenNoOptionGiven)
{
    const std::string path = "/tmp/vantora-device-ppd-" + std::to_string(getpid());
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("*DefaultPageSize: 115x204mm\n*DefaultResolution: 600x600dpi\n*DefaultZpxBorder: Enable\n"
               "*DefaultZpxGamma: 100\n*DefaultZpxDecurl: Enable\n*DefaultZpxPrintSpeed: Enable\n",
               file);
    std::fclose(file);
    ppdfile_s* ppd = wrappedPpdOpenFile(path.c_str());
    {
        Configured job("ZpxDecurl=Disable", ppd);
        EXPECT_EQ(job.device.m_media.mediaId, 96);
        EXPECT_EQ(job.device.m_settings.resolutionMode, 2);
        EXPECT_EQ(job.device.m_media.planeHeight, 4872);
        EXPECT_TRUE(job.device.m_settings.border);
        EXPECT_EQ(job.device.m_settings.gamma[2], 200);
        const auto packets = job.SettingsPackets(ppd);
        EXPECT_EQ(packets[3].PayloadText(), "00000020");
        EXPECT_EQ(packets[4].PayloadText(), "000000000000");
    }
    wrappedPpdClose(ppd);
    unlink(path.c_str());
}

struct MediaCase {
    const char* pageSize;
    const char* resolution;
    int mediaId, multicut, planeHeight, imageWidth, gap, twoInchCut;
};

TEST(ModelTables, GeometryOfEveryPageSizeAndResolution)
{
    const MediaCase cases[] = {
        {"102x102mm", "300x300dpi", 91, 47, 1236, 1266, 30, 1}, {"102x153mm", "300x300dpi", 92, 48, 1836, 1266, 30, 1},
        {"102x204mm", "300x600dpi", 93, 49, 4872, 1266, 60, 1}, {"115x115mm", "300x300dpi", 94, 50, 1386, 1408, 30, 0},
        {"115x153mm", "600x600dpi", 95, 51, 3672, 1408, 60, 1}, {"115x204mm", "300x300dpi", 96, 52, 2436, 1408, 30, 1},
    };
    for (const MediaCase& c : cases) {
        const std::string options = std::string("PageSize=") + c.pageSize + " Resolution=" + c.resolution;
        Configured job(options.c_str());
        const DeviceMediaBufferInfo& m = job.device.m_media;
        SCOPED_TRACE(options);
        EXPECT_EQ(m.mediaId, c.mediaId);
        EXPECT_EQ(m.multicutCode, c.multicut);
        EXPECT_EQ(m.headWidth, 1408);
        EXPECT_EQ(m.resolutionX, 300);
        EXPECT_EQ(m.planeHeight, c.planeHeight);
        EXPECT_EQ(m.planeImageHeight, c.planeHeight);
        EXPECT_EQ(m.planeImageWidth, c.imageWidth);
        EXPECT_EQ(m.planeImageGap, c.gap);
        EXPECT_EQ(m.planeImagesPerSheet, 1);
        EXPECT_EQ(m.twoInchCut, c.twoInchCut);
        const DeviceMediaBufferInfo multi = job.device.GetMultiMediaInfo(m, 2);
        EXPECT_EQ(std::memcmp(&multi, &m, sizeof m), 0);
    }
}

// The model's media rows and the protocol's page sizes (which the sender's
// media check, the backend and the printer application read) name the same
// paper for each MULTICUT code.
TEST(ModelTables, EveryRowIsThePageSizeItsMulticutNames)
{
    int rows = 0;
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row, ++rows) {
        SCOPED_TRACE(row->pageSize);
        const PageSize* size = FindPageSize(row->multicutCode);
        ASSERT_NE(size, nullptr);
        EXPECT_STREQ(size->name, row->pageSize);
        EXPECT_NEAR(row->width * 25.4, size->widthMm, 1.0);
        EXPECT_NEAR(row->height * 25.4, size->lengthMm, 1.0);
    }
    EXPECT_EQ(rows, 6);
}

TEST(ModelTables, UnknownPageSizeOrResolution)
{
    Configured a4("PageSize=A4");
    EXPECT_EQ(a4.device.m_media.mediaId, -1);
    Configured none("");
    EXPECT_EQ(none.device.m_media.mediaId, -1);
    Configured media("media=115x153mm Resolution=1200dpi");
    EXPECT_EQ(media.device.m_media.mediaId, 95);
    EXPECT_EQ(media.device.m_settings.resolutionY, 300);
    EXPECT_EQ(media.device.m_settings.resolutionMode, 0);
    Configured half("PageSize=102x153mm Resolution=300x600dpi");
    EXPECT_EQ(half.device.m_settings.resolutionMode, 1);
    EXPECT_EQ(half.device.m_settings.resolutionY, 600);

    DeviceMediaBufferInfo record = EmptyMediaInfo();
    EXPECT_EQ(a4.device.SetMediaInfo(record, 33, 1.53), 3);
    EXPECT_EQ(record.mediaId, -1);
    EXPECT_EQ(a4.device.SetMediaInfo(record, 92, 0.5), 3);  // firmware too old
}

TEST(ModelTables, StandardAndCommonNamesOfEverySize)
{
    struct Size {
        int mediaId;
        std::vector<const char*> names;
    };
    const Size sizes[] = {
        {91, {"102x102mm", "oe_square-photo_4x4in", "4x4", "4x4in", "w288h288", "custom_4x4in_4x4in", "w288.3h287.7"}},
        {92, {"102x153mm", "na_index-4x6_4x6in", "4x6", "w288h432", "6x4", "w432h288", "4x6.Fullbleed",
              "Custom.288x432", "custom_101.6x152.4mm_101.6x152.4mm"}},
        {93, {"102x204mm", "custom_4x8in_4x8in", "4x8in", "w288h576"}},
        {94, {"115x115mm", "4.5x4.5", "w324h324", "custom_4.5x4.5in_4.5x4.5in"}},
        {95, {"115x153mm", "oe_photo_4.5x6in", "w324h432", "4.5x6in"}},
        {96, {"115x204mm", "4.5x8", "w324h576.Fullbleed", "Custom.324x576"}},
    };
    for (const Size& size : sizes)
        for (const char* name : size.names)
            EXPECT_EQ(MediaIdForPageSize_RT50(name), size.mediaId) << name;
    // Sizes the printer does not have, and names that describe no size.
    for (const char* name : {"na_5x7_5x7in", "A4", "iso_a6_105x148mm", "w288h300", "100x150mm", "3.5x5", "w288",
                             "wxh", "w288h432x", "h432w288", "na_index-4x6", "", "W288H432",
                             "w99999999999h432"})
        EXPECT_EQ(MediaIdForPageSize_RT50(name), kUnknownMediaId) << name;
    const std::string longName = "na_index-4x6_4x6in" + std::string(100, '_');
    EXPECT_EQ(MediaIdForPageSize_RT50(longName.c_str()), kUnknownMediaId);
}

TEST(ModelTables, OvercoatRowsAndFirmware)
{
    DeviceEntry_RT50 device;
    EXPECT_EQ(device.SetOvercoatFinish(122, 0.7), 0);
    EXPECT_EQ(device.m_overcoat.code, 122);
    EXPECT_EQ(device.m_overcoat.flag, 1);
    EXPECT_EQ(device.SetOvercoatFinish(101, 0.7), 3);
    EXPECT_EQ(device.m_overcoat.id, -1);
    EXPECT_EQ(device.SetOvercoatFinish(21, 1.53), 0);
    EXPECT_EQ(device.m_overcoat.code, 21);
    EXPECT_EQ(device.SetOvercoatFinish(5, 1.53), 3);
    EXPECT_EQ(device.GetHeadWidth(), 1408);
    EXPECT_EQ(device.GetMultiLayoutNum("1"), 1);
    EXPECT_EQ(device.GetRemainHalf("1"), 0);
    EXPECT_TRUE(device.isSupportDecurl());
    EXPECT_TRUE(device.isSupportSysTime());
}

TEST(ModelTables, OvercoatNeedingNewerFirmwareSendsNothing)
{
    // A model whose firmware is older than every overcoat row.
    class OldFirmware : public DeviceEntry_RT50 {
    public:
        int SetOvercoatFinish(unsigned long code, double) override { return DeviceEntry_RT50::SetOvercoatFinish(code, 0.1); }
    };
    OldFirmware device;
    FILE* out = std::tmpfile();
    device.SetOutputFd(fileno(out));
    EXPECT_EQ(device.SendOvercoatFinish(0, nullptr, nullptr), 0);
    EXPECT_EQ(std::ftell(out), 0);
    std::fseek(out, 0, SEEK_END);
    EXPECT_EQ(std::ftell(out), 0);
    std::fclose(out);
}

}  // namespace
