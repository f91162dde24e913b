// Settings look-up, the *Default reader, little-endian stores and the
// information-file readers.
#include "SettingsLookup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <cstdlib>
#include <unistd.h>

namespace {

class PpdFile {
public:
    explicit PpdFile(const std::string& text)
    {
        char pattern[] = "/tmp/vantora-ppd-XXXXXX";
        const int fd = mkstemp(pattern);
        m_path = pattern;
        if (fd >= 0) {
            (void)!write(fd, text.data(), text.size());
            close(fd);
        }
    }
    ~PpdFile() { unlink(m_path.c_str()); }
    const char* Path() const { return m_path.c_str(); }

private:
    std::string m_path;
};

TEST(SettingsLookup, JobOptionThenMediaThenPpdDefault)
{
    PpdFile file("*PPD-Adobe: \"4.3\"\n*DefaultPageSize: 115x153mm\n*DefaultZpxBorder: Enable\n");
    ppdfile_s* ppd = wrappedPpdOpenFile(file.Path());
    ASSERT_NE(ppd, nullptr);

    cups_option_t* options = nullptr;
    int count = cupsParseOptions("media=102x153mm ZpxBorder=Disable", 0, &options);
    EXPECT_STREQ(_GetCupsValue("PageSize", count, options, ppd), "102x153mm");
    EXPECT_STREQ(_GetCupsValue("ZpxBorder", count, options, ppd), "Disable");
    // "media" stands in only for PageSize.
    EXPECT_EQ(_GetCupsValue("Resolution", count, options, ppd), nullptr);
    count = cupsAddOption("PageSize", "102x204mm", count, &options);
    EXPECT_STREQ(_GetCupsValue("PageSize", count, options, ppd), "102x204mm");
    cupsFreeOptions(count, options);

    EXPECT_STREQ(_GetCupsValue("PageSize", 0, nullptr, ppd), "115x153mm");
    EXPECT_STREQ(_GetCupsValue("ZpxBorder", 0, nullptr, ppd), "Enable");
    EXPECT_EQ(_GetCupsValue("ZpxBorder", 0, nullptr, nullptr), nullptr);
    wrappedPpdClose(ppd);
}

TEST(DefaultReader, MatchesWholeKeywordAtLineStartOnly)
{
    PpdFile file(
        "*DefaultZpxBorderX: Wrong\n"
        " *DefaultZpxBorder: Indented\n"
        "\t*DefaultZpxGamma: Tabbed\n"
        "*DefaultZpxBorder: Enable trailing words\n"
        "*DefaultZpxBorder: Second\n"
        "*DefaultZpxEmpty: \n");
    ppdfile_s* ppd = wrappedPpdOpenFile(file.Path());
    ASSERT_NE(ppd, nullptr);
    EXPECT_STREQ(wrappedPpdFindDefChoice(ppd, "ZpxBorder"), "Enable");
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "ZpxGamma"), nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "ZpxEmpty"), nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "Missing"), nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, nullptr), nullptr);
    // Each look-up rewinds, so the same keyword is found again.
    EXPECT_STREQ(wrappedPpdFindDefChoice(ppd, "ZpxBorder"), "Enable");
    wrappedPpdClose(ppd);
}

TEST(DefaultReader, NeverCopiesMoreThanItsBuffer)
{
    // A word far longer than the value buffer, and a line longer than the
    // read buffer whose continuation looks like a *Default line.
    const std::string longWord(5000, 'A');
    const std::string longLine = "*% " + std::string(300, 'x') + "*DefaultZpxGamma: Hidden\n";
    PpdFile file("*DefaultZpxChroma: " + longWord + "\n" + longLine);
    ppdfile_s* ppd = wrappedPpdOpenFile(file.Path());
    ASSERT_NE(ppd, nullptr);
    const char* value = wrappedPpdFindDefChoice(ppd, "ZpxChroma");
    ASSERT_NE(value, nullptr);
    EXPECT_LT(std::string(value).size(), sizeof ppd->value);
    EXPECT_EQ(std::string(value), std::string(value).size() > 0 ? std::string(std::string(value).size(), 'A') : "");
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "ZpxGamma"), nullptr);
    // A keyword too long for the prefix buffer finds nothing.
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, std::string(300, 'K').c_str()), nullptr);
    wrappedPpdClose(ppd);
}

TEST(DefaultReader, MissingOrUnreadablePpd)
{
    EXPECT_EQ(wrappedPpdOpenFile(nullptr), nullptr);
    ppdfile_s* ppd = wrappedPpdOpenFile("/nonexistent/VANTORA_RT-50.ppd");
    ASSERT_NE(ppd, nullptr);
    EXPECT_EQ(ppd->file, nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "ZpxBorder"), nullptr);
    wrappedPpdClose(ppd);
    wrappedPpdClose(nullptr);
}

TEST(SettingsLookupHelpers, FirmwareVersionAndLittleEndianStores)
{
    double version = 0;
    EXPECT_EQ(_GetFirmwVersion(0, &version), 0);
    EXPECT_DOUBLE_EQ(version, 1.53);
    EXPECT_EQ(_GetFirmwVersion(0, nullptr), 3);

    unsigned char bytes[6] = {9, 9, 9, 9, 9, 9};
    _StoreLE4(bytes, 1088);
    EXPECT_EQ(bytes[0], 0x40);
    EXPECT_EQ(bytes[1], 0x04);
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(bytes[4], 9);
    _StoreLE2(bytes, 0x12345678);
    EXPECT_EQ(bytes[0], 0x78);
    EXPECT_EQ(bytes[1], 0x56);
    EXPECT_EQ(bytes[2], 0x00);
    _StoreLE4(bytes, -1);
    EXPECT_EQ(bytes[3], 0xff);
}

TEST(InfoFiles, JobStartFileKeyIsCleanedAndBounded)
{
    const std::string name = "vantora-test-" + std::to_string(getpid());
    const std::string path = "/tmp/Print_" + name + ".log";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("other=\"1\"\nMODE=\"PRINTING\"\nLONG=\"0123456789\"\n", file);
    std::fclose(file);

    char out[32] = "unchanged";
    EXPECT_EQ(_GetValuePrInfoFile("MODE=", name.c_str(), out, sizeof out), 0);
    EXPECT_STREQ(out, "PRINTING");
    // A value that does not fit leaves the buffer alone.
    std::snprintf(out, sizeof out, "unchanged");
    EXPECT_EQ(_GetValuePrInfoFile("LONG=", name.c_str(), out, 5), 0);
    EXPECT_STREQ(out, "unchanged");
    EXPECT_EQ(_GetValuePrInfoFile("MISSING=", name.c_str(), out, sizeof out), 0);
    EXPECT_STREQ(out, "unchanged");
    unlink(path.c_str());
    EXPECT_EQ(_GetValuePrInfoFile("STATE=", name.c_str(), out, sizeof out), 0);
    EXPECT_STREQ(out, "unchanged");
}

TEST(InfoFiles, UnknownQueueHasNoDeviceUri)
{
    // No scheduler is asked: the destination list comes back empty at once.
    setenv("CUPS_SERVER", "/nonexistent/vantora-cups.sock", 1);
    char uri[256] = {};
    EXPECT_EQ(_GetCupsDeviceURI(nullptr, uri, sizeof uri), -1);
    EXPECT_EQ(_GetCupsDeviceURI("no-such-queue-vantora", uri, sizeof uri), -1);
    char out[16] = "unchanged";
    EXPECT_EQ(_GetValuePrinterInfoFile("no-such-queue-vantora", "STATUS=", "RT-50", out, sizeof out), -1);
    EXPECT_STREQ(out, "unchanged");
}

}  // namespace
