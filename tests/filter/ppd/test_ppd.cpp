// The built PPD: cupstestppd accepts it, and it asks CUPS for what the
// filter needs (24-bit RGB chunky raster at the paper's size, copies handed
// to the filter), names its sizes so that CUPS gives them their standard
// names, and offers every setting the filter reads.
#include "DeviceEntryRT50.h"
#include "FilterTestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/ppd.h>

using namespace filtertest;

namespace {

class BuiltPpdFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ppd = ppdOpenFile(BuiltPpd().c_str());
        ASSERT_NE(ppd, nullptr) << "cannot open " << BuiltPpd();
    }
    void TearDown() override
    {
        if (ppd != nullptr)
            ppdClose(ppd);
    }
    ppd_file_t* ppd = nullptr;
};

TEST_F(BuiltPpdFile, PassesCupstestppd)
{
    // cupstestppd looks for the filters under the root it is given.
    TempDir root;
    const std::string filterDir = root.Path("usr/lib/cups/filter");
    for (const std::string& dir : {root.Path("usr"), root.Path("usr/lib"), root.Path("usr/lib/cups"), filterDir})
        mkdir(dir.c_str(), 0755);
    ASSERT_EQ(symlink(FilterProgram().c_str(), (filterDir + "/vantora_rt50_filter").c_str()), 0);
    ASSERT_EQ(symlink(VANTORA_PHOTO_PROGRAM, (filterDir + "/vantora_rt50_photo").c_str()), 0);
    FilterRun run = RunProgram("/usr/bin/cupstestppd", {"-R", root.Path(), BuiltPpd()}, "", "");
    const std::string report(run.output.begin(), run.output.end());
    EXPECT_EQ(run.exitStatus, 0) << report << run.errors;
    EXPECT_NE(report.find("PASS"), std::string::npos) << report;
}

TEST_F(BuiltPpdFile, RequestsRgbRasterAtThePapersSize)
{
    EXPECT_TRUE(ppd->manual_copies == 0) << "copies must reach the filter as NumCopies";
    EXPECT_STREQ(ppdFindAttr(ppd, "cupsManualCopies", nullptr)->value, "False");
    EXPECT_TRUE(ppd->color_device);
    // Raster to the raster filter, photos (also those CUPS itself cannot
    // decode) to the photo filter; nothing else of ours (and no cupsFilter
    // lines, which CUPS ignores beside these).
    std::vector<std::string> filters;
    for (ppd_attr_t* attr = ppdFindAttr(ppd, "cupsFilter2", nullptr); attr != nullptr;
         attr = ppdFindNextAttr(ppd, "cupsFilter2", nullptr))
        filters.push_back(attr->value);
    std::vector<std::string> expected = {"application/vnd.cups-raster application/vnd.vantora-rt50 0 vantora_rt50_filter"};
    for (const char* type : {"jpeg", "png", "tiff", "webp", "heic", "heif", "avif", "gif"})
        expected.push_back(std::string("image/") + type + " application/vnd.vantora-rt50 0 vantora_rt50_photo");
    EXPECT_EQ(filters, expected);

    ppdMarkDefaults(ppd);
    cups_page_header2_t header;
    ASSERT_EQ(cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr), 0);
    EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(header.cupsBitsPerColor, 8u);
    EXPECT_EQ(header.cupsBitsPerPixel, 24u);
    EXPECT_EQ(header.HWResolution[0], 300u);
    EXPECT_EQ(header.cupsWidth, 1200u);
    EXPECT_EQ(header.cupsHeight, 1800u);

    // Every media of the model, borderless at the paper's size (which the
    // filter enlarges to the printable page), so that CUPS finds its
    // standard name: and whichever name asks for it, the filter's table
    // knows the size.
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row) {
        SCOPED_TRACE(row->pageSize);
        ppd_size_t* size = ppdPageSize(ppd, row->pageSize);
        ASSERT_NE(size, nullptr);
        EXPECT_NEAR(size->width, row->width * 72.0, 0.001);
        EXPECT_NEAR(size->length, row->height * 72.0, 0.001);
        EXPECT_NEAR(size->left, 0.0, 0.001);
        EXPECT_NEAR(size->bottom, 0.0, 0.001);
        EXPECT_NEAR(size->right, size->width, 0.001);
        EXPECT_NEAR(size->top, size->length, 0.001);
        ppdMarkOption(ppd, "PageSize", row->pageSize);
        ASSERT_EQ(cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr), 0);
        EXPECT_EQ(header.cupsWidth, static_cast<unsigned>(std::lround(row->width * 300)));
        EXPECT_EQ(header.cupsHeight, static_cast<unsigned>(std::lround(row->height * 300)));
        ppd_choice_t* choice = ppdFindChoice(ppdFindOption(ppd, "PageSize"), row->pageSize);
        ASSERT_NE(choice, nullptr);
        EXPECT_NE(std::strstr(choice->code, "/PageSize["), nullptr) << choice->code;
    }
    EXPECT_EQ(ppdFindOption(ppd, "PageSize")->num_choices, 6);
    EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, "102x153mm");
}

TEST_F(BuiltPpdFile, OffersEveryResolutionAndSetting)
{
    ppd_option_t* resolution = ppdFindOption(ppd, "Resolution");
    ASSERT_NE(resolution, nullptr);
    for (const char* name : {"300x300dpi", "300x600dpi", "600x600dpi"})
        EXPECT_NE(ppdFindChoice(resolution, name), nullptr) << name;

    struct Keyword {
        const char* name;
        const char* defaultChoice;
        std::vector<const char*> choices;
    };
    const Keyword keywords[] = {
        {"ZpxBorder", "Disable", {"Enable"}},
        {"ZpxSharpness", "0", {"-2", "-1", "1", "2", "3", "4", "5", "6", "7", "8"}},
        {"ZpxGamma", "0", {"-100", "100"}},
        {"ZpxBrightness", "0", {"-50", "50"}},
        {"ZpxContrast", "0", {"-50", "50"}},
        {"ZpxChroma", "0", {"-50", "50"}},
        {"ZpxColorAdjustment", "Disable", {"Enable"}},
        {"ZpxOvercoatFinish", "Glossy", {"Matte", "FineMatte", "Luster"}},
        {"Zpx2InchCut", "Disable", {"Enable"}},
        {"ZpxPrintRetry", "Enable", {"Disable"}},
        {"ZpxPrintSpeed", "Disable", {"Enable"}},
        {"ZpxDecurl", "Auto", {"Enable", "Disable"}},
    };
    for (const Keyword& keyword : keywords) {
        SCOPED_TRACE(keyword.name);
        ppd_option_t* option = ppdFindOption(ppd, keyword.name);
        ASSERT_NE(option, nullptr);
        EXPECT_STREQ(option->defchoice, keyword.defaultChoice);
        EXPECT_STRNE(option->text, keyword.name) << "needs a readable label";
        for (const char* choice : keyword.choices)
            EXPECT_NE(ppdFindChoice(option, choice), nullptr) << choice;
    }
}

// The text of option `keyword` (choice `choice`, when given) in `language`,
// as the built PPD's translation lines give it; "" when it has none.
// (libcups loads only the current locale's translations.)
std::string Translated(const std::string& language, const char* keyword, const char* choice = nullptr)
{
    const std::string key = "*" + language + (choice == nullptr ? std::string(".Translation ") + keyword
                                                                   : "." + std::string(keyword) + " " + choice) + "/";
    std::ifstream in(BuiltPpd());
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size(), line.find(": \"", key.size()) - key.size());
    }
    return "";
}

TEST_F(BuiltPpdFile, EveryOptionSpeaksTheStatusWindowsLanguages)
{
    ppd_attr_t* languages = ppdFindAttr(ppd, "cupsLanguages", nullptr);
    ASSERT_NE(languages, nullptr);
    EXPECT_STREQ(languages->value, "en de es fr ja zh_CN");
    for (const std::string language : {"de", "es", "fr", "ja", "zh_CN"}) {
        SCOPED_TRACE(language);
        for (int g = 0; g < ppd->num_groups; ++g) {
            for (int o = 0; o < ppd->groups[g].num_options; ++o) {
                // The package's own options (CUPS's catalogues name the
                // standard ones).
                const ppd_option_t& option = ppd->groups[g].options[o];
                if (std::strncmp(option.keyword, "Zpx", 3) != 0)
                    continue;
                const std::string text = Translated(language, option.keyword);
                EXPECT_FALSE(text.empty()) << option.keyword;
                EXPECT_NE(text, option.text) << option.keyword;
                for (int c = 0; c < option.num_choices; ++c) {
                    const ppd_choice_t& choice = option.choices[c];
                    const std::string choiceText = Translated(language, option.keyword, choice.choice);
                    EXPECT_FALSE(choiceText.empty()) << option.keyword << " " << choice.choice;
                    // Words are translated (some are the same in German,
                    // Spanish or French: Japanese and Chinese tell); a value
                    // such as "-50" is the same everywhere.
                    if ((language == "ja" || language == "zh_CN") &&
                        std::strpbrk(choice.text, "abcdefghijklmnopqrstuvwxyz") != nullptr) {
                        EXPECT_NE(choiceText, choice.text) << option.keyword << " " << choice.choice;
                    }
                }
            }
        }
        // The colour adjustments name the setting they need as the
        // language shows it.
        const std::string needed = Translated(language, "ZpxColorAdjustment");
        const std::string on = Translated(language, "ZpxColorAdjustment", "Enable");
        for (const char* keyword : {"ZpxGamma", "ZpxBrightness", "ZpxContrast", "ZpxChroma"}) {
            const std::string text = Translated(language, keyword);
            EXPECT_NE(text.find(needed), std::string::npos) << keyword << ": " << text;
            EXPECT_NE(text.find(on), std::string::npos) << keyword << ": " << text;
        }
    }
    for (const char* keyword : {"ZpxGamma", "ZpxBrightness", "ZpxContrast", "ZpxChroma"})
        EXPECT_NE(std::strstr(ppdFindOption(ppd, keyword)->text, "Colour adjustment On"), nullptr) << keyword;
}

TEST(BuiltPpdLocalized, PrintDialogsUnderAGermanLocaleShowGerman)
{
    // What print dialogs do with a queue's PPD (ppdLocalize), in a process
    // of its own: libcups keeps the first language it finds.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("LANG", "de_DE.UTF-8", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        ppd_file_t* ppd = ppdOpenFile(BuiltPpd().c_str());
        if (ppd == nullptr || ppdLocalize(ppd) != 0)
            _exit(2);
        const bool german = std::strcmp(ppdFindOption(ppd, "ZpxBorder")->text, "Rand") == 0 &&
                            std::strcmp(ppdFindChoice(ppdFindOption(ppd, "ZpxColorAdjustment"), "Enable")->text, "Ein") == 0 &&
                            std::strcmp(ppdFindOption(ppd, "PageSize")->text, "Mediengröße") == 0 &&
                            std::strcmp(ppdFindChoice(ppdFindOption(ppd, "PageSize"), "102x153mm")->text,
                                        "4 x 6 Zoll (102 x 152 mm)") == 0;
        ppdClose(ppd);
        _exit(german ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
