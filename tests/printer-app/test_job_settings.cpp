// A job's IPP settings as the filter's options, untrusted values included,
// and pages of another size than the media brought to the printable page.
#include "JobSettings.h"
#include "MediaSizes.h"
#include "PageFit.h"
#include "PrinterReasons.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

std::string Options(const pappl_pr_options_t& job, const char* scaling = nullptr)
{
    cups_option_t* options = nullptr;
    const int count = BuildFilterOptions(job, scaling, &options);
    const std::string text = OptionString(count, options);
    cupsFreeOptions(count, options);
    return text;
}

TEST(JobSettings, IppSettingsBecomeTheFiltersOptionsWithinTheirRanges)
{
    pappl_pr_options_t job{};
    // Defaults: 4x6, 300 dpi, no border, glossy, every adjustment neutral.
    EXPECT_EQ(Options(job), "PageSize=102x153mm Resolution=300x300dpi ZpxBorder=Disable ZpxBrightness=0 ZpxChroma=0 "
                            "ZpxColorAdjustment=Disable ZpxContrast=0 ZpxGamma=0 ZpxOvercoatFinish=Glossy "
                            "ZpxSharpness=0");

    std::snprintf(job.media.size_name, sizeof job.media.size_name, "oe_photo-115x204mm_4.5x8in");
    job.printer_resolution[0] = job.printer_resolution[1] = 600;
    cups_option_t* vendor = nullptr;
    int count = 0;
    count = cupsAddOption("overcoat-finish", "fine-matte", count, &vendor);
    count = cupsAddOption("photo-border", "white", count, &vendor);
    count = cupsAddOption("photo-sharpness", "99", count, &vendor);        // above the range
    count = cupsAddOption("photo-gamma", "-50", count, &vendor);
    count = cupsAddOption("photo-brightness", "12abc", count, &vendor);    // not a number
    count = cupsAddOption("photo-contrast", "-2147483649", count, &vendor);
    job.num_vendor = count;
    job.vendor = vendor;
    EXPECT_EQ(Options(job, "fit"),
              "PageSize=115x204mm print-scaling=fit Resolution=600x600dpi ZpxBorder=Enable ZpxBrightness=0 "
              "ZpxChroma=0 ZpxColorAdjustment=Enable ZpxContrast=-50 ZpxGamma=-50 ZpxOvercoatFinish=FineMatte "
              "ZpxSharpness=8");
    cupsFreeOptions(count, vendor);

    // Media by size alone, margins asking for a border, unknown keywords.
    pappl_pr_options_t other{};
    other.media.size_width = 10160;
    other.media.size_length = 10160;
    other.media.top_margin = 457;
    cups_option_t* odd = nullptr;
    const int oddCount = cupsAddOption("overcoat-finish", "shiny;rm -rf", 0, &odd);
    other.num_vendor = oddCount;
    other.vendor = odd;
    const std::string text = Options(other, "bogus");
    EXPECT_NE(text.find("PageSize=102x102mm"), std::string::npos) << text;
    EXPECT_NE(text.find("ZpxBorder=Enable"), std::string::npos) << text;
    EXPECT_NE(text.find("ZpxOvercoatFinish=Glossy"), std::string::npos) << text;
    EXPECT_EQ(text.find("print-scaling"), std::string::npos) << text;
    // The hairline margins the printer advertises print borderless.
    other.media.top_margin = other.media.bottom_margin = other.media.left_margin = other.media.right_margin =
        kHairlineMargin;
    EXPECT_NE(Options(other, nullptr).find("ZpxBorder=Disable"), std::string::npos);
    cupsFreeOptions(oddCount, odd);
}

// A page filled with one colour per half, bottom-up.
PageBuffer MakePage(long width, long height)
{
    PageBuffer page;
    page.width = width;
    page.height = height;
    const unsigned long stride = PageStride(width);
    page.pixels = static_cast<unsigned char*>(std::malloc(stride * height));
    for (long y = 0; y < height; ++y)
        std::memset(page.pixels + stride * y, y < height / 2 ? 40 : 200, stride);
    return page;
}

// The overcoat a finishings-col asks for, as a driverless CUPS queue sends
// a finishing template and an IPP client a coating; what the printer
// offers is what it takes back.
TEST(JobSettings, FinishingsChooseTheOvercoatAndTheOfferedTemplatesAreTakenBack)
{
    ipp_t* request = ippNew();
    auto finishing = [](const char* templateName, ipp_tag_t tag, const char* coatingType) {
        ipp_t* value = ippNew();
        if (templateName != nullptr)
            ippAddString(value, IPP_TAG_ZERO, tag, "finishing-template", nullptr, templateName);
        if (coatingType != nullptr) {
            ipp_t* coating = ippNew();
            ippAddString(coating, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "coating-type", nullptr, coatingType);
            ippAddCollection(value, IPP_TAG_ZERO, "coating", coating);
            ippDelete(coating);
        }
        return value;
    };
    const struct {
        const char* templateName;
        ipp_tag_t tag;
        const char* coatingType;
        const char* overcoat;
    } cases[] = {
        {"matte", IPP_TAG_KEYWORD, nullptr, "matte"},
        {"fine-matte", IPP_TAG_NAME, nullptr, "fine-matte"},   // a template may be a name
        {"luster", IPP_TAG_KEYWORD, "glossy", "luster"},      // the template wins
        {nullptr, IPP_TAG_KEYWORD, "matte", "matte"},
        {"FineMatte", IPP_TAG_KEYWORD, nullptr, "fine-matte"},   // CUPS's PPD choice
        {"staple", IPP_TAG_KEYWORD, "semi-gloss", nullptr},
        {"matt", IPP_TAG_KEYWORD, nullptr, nullptr},
        {"glossy-matte", IPP_TAG_KEYWORD, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.templateName != nullptr ? c.templateName : "(no template)");
        ipp_t* value = finishing(c.templateName, c.tag, c.coatingType);
        ipp_attribute_t* attr = ippAddCollection(request, IPP_TAG_JOB, "finishings-col", value);
        ippDelete(value);
        EXPECT_STREQ(OvercoatOfFinishings(attr), c.overcoat);
        ippDeleteAttribute(request, attr);
    }
    // Of several values, the first that names an overcoat; none at all,
    // or another type of attribute, asks for none.
    ipp_t* first = finishing("punch", IPP_TAG_KEYWORD, nullptr);
    ipp_attribute_t* several = ippAddCollection(request, IPP_TAG_JOB, "finishings-col", first);
    ippDelete(first);
    ipp_t* second = finishing("glossy", IPP_TAG_KEYWORD, nullptr);
    ippSetCollection(request, &several, 1, second);
    ippDelete(second);
    EXPECT_STREQ(OvercoatOfFinishings(several), "glossy");
    EXPECT_EQ(OvercoatOfFinishings(nullptr), nullptr);
    EXPECT_EQ(OvercoatOfFinishings(ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "finishings-col", nullptr, "matte")),
              nullptr);
    ippDelete(request);

    // Every template offered is an overcoat taken back as itself.
    ipp_t* printer = ippNew();
    AddOvercoatFinishings(printer);
    ipp_attribute_t* database = ippFindAttribute(printer, "finishings-col-database", IPP_TAG_BEGIN_COLLECTION);
    ASSERT_NE(database, nullptr);
    ASSERT_EQ(ippGetCount(database), kOvercoatCount);
    for (int i = 0; i < kOvercoatCount; ++i) {
        ipp_t* one = ippNew();
        ipp_attribute_t* single = ippAddCollection(one, IPP_TAG_JOB, "finishings-col", ippGetCollection(database, i));
        EXPECT_STREQ(OvercoatOfFinishings(single), kOvercoatKeywords[i]);
        ippDelete(one);
    }
    ippDelete(printer);
}

TEST(PageFit, PagesOfOtherSizesAreBroughtToThePrintablePage)
{
    // Letter at 300 dpi onto 4x6: fitted whole, within the page.
    PageBuffer letter = MakePage(2550, 3300);
    ASSERT_TRUE(FitPageToMedia(&letter, 1266, 1836, false));
    EXPECT_EQ(letter.width, 1266);
    EXPECT_LE(letter.height, 1836);
    EXPECT_NEAR(static_cast<double>(letter.width) / letter.height, 2550.0 / 3300.0, 0.01);
    std::free(letter.pixels);

    // A 4x6 page from a client at 1200 x 1800 fills the page, cut evenly.
    PageBuffer small = MakePage(1200, 1800);
    ASSERT_TRUE(FitPageToMedia(&small, 1266, 1836, true));
    EXPECT_EQ(small.width, 1266);
    EXPECT_EQ(small.height, 1836);
    EXPECT_EQ(small.pixels[0], 40);
    EXPECT_EQ(small.pixels[PageStride(1266) * 1835], 200);
    std::free(small.pixels);

    // The printer's own size passes unchanged (same pixels, same block).
    PageBuffer exact = MakePage(1266, 1836);
    unsigned char* before = exact.pixels;
    ASSERT_TRUE(FitPageToMedia(&exact, 1266, 1836, true));
    EXPECT_EQ(exact.pixels, before);
    std::free(exact.pixels);
}

TEST(PrinterStatus, StatusCodesAndMediaCountsAsClientsSeeThem)
{
    EXPECT_EQ(ReasonsForStatus(0), PAPPL_PREASON_NONE);
    EXPECT_EQ(ReasonsForStatus(0x80000000LL), PAPPL_PREASON_OFFLINE);
    EXPECT_TRUE(ReasonsForStatus(1000) & PAPPL_PREASON_COVER_OPEN);
    EXPECT_EQ(ReasonsForStatus(1100), PAPPL_PREASON_MEDIA_EMPTY);
    EXPECT_EQ(ReasonsForStatus(2610), PAPPL_PREASON_OTHER);
    EXPECT_EQ(ReasonsForStatus(1), PAPPL_PREASON_NONE);

    const MediaState media = ParseMediaState("00161", "0000300", "0000015");
    EXPECT_EQ(media.mediaCode, 161);
    EXPECT_EQ(kMediaSizes[ReadyMediaIndex(media.mediaCode)].pageSize, std::string("115x204mm"));
    EXPECT_EQ(SupplyLevel(media), 5);
    EXPECT_TRUE(ReasonsForMedia(media) & PAPPL_PREASON_MEDIA_LOW);
    // The supply as PWG 5100.13 describes it, under the same name whatever
    // is left.
    ipp_t* attrs = ippNew();
    AddSupplyAttributes(attrs, media);
    ipp_attribute_t* supply = ippFindAttribute(attrs, "printer-supply", IPP_TAG_STRING);
    ASSERT_NE(supply, nullptr);
    int length = 0;
    const char* value = static_cast<const char*>(ippGetOctetString(supply, 0, &length));
    EXPECT_EQ(std::string(value, static_cast<size_t>(length)),
              "index=1;class=supplyThatIsConsumed;type=inkRibbon;unit=percent;maxcapacity=100;level=5;"
              "colorantname=multi-color;");
    EXPECT_STREQ(ippGetString(ippFindAttribute(attrs, "marker-names", IPP_TAG_NAME), 0, nullptr), "Ribbon and paper");
    EXPECT_EQ(ippGetInteger(ippFindAttribute(attrs, "marker-levels", IPP_TAG_INTEGER), 0), 5);
    ippDelete(attrs);

    // Answers that are not plain numbers read as unknown.
    const MediaState odd = ParseMediaState("1x50", "", "99999999999999");
    EXPECT_EQ(odd.mediaCode, -1);
    EXPECT_EQ(odd.initial, -1);
    EXPECT_EQ(odd.remaining, -1);
    EXPECT_EQ(SupplyLevel(odd), -1);
}

}  // namespace
