// Presentation of status maps (English catalogue, no queue of this model in
// CUPS): texts, picture, bar, and the worked examples.
#include "presentation_probe.h"
#include "status_test_support.h"

#include <gtest/gtest.h>

using namespace status_test;

namespace {

class Presentation : public ::testing::Test {
protected:
    Catalogue english{"en"};
    ScratchDir dir;
    StatusDialog dialog{nullptr, dir.path()};
};

void ExpectOffline(StatusDialog &dialog)
{
    EXPECT_EQ(Text(dialog, "label_Status"), "Offline");
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), "Connect the printer and computer, and turn on the power.");
    EXPECT_EQ(Picture(dialog), Expected(":/images/PrtStsOffline.bmp"));
    EXPECT_EQ(Text(dialog, "label_MediaSize"), "---");
    EXPECT_EQ(Text(dialog, "label_SerialValue"), "---");
    EXPECT_EQ(Text(dialog, "label_FWValue"), "---");
    EXPECT_EQ(Text(dialog, "label_TCValue"), "---");
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "--- / ---  Sheets");
    EXPECT_EQ(Text(dialog, "label_MediaGroup"), "Media Info[ --- ]");
    EXPECT_EQ(Bar(dialog), 0);
}

TEST_F(Presentation, StartsOfflineAndMapsWithoutStatusStayOffline)
{
    ASSERT_TRUE(english.loaded());
    ExpectOffline(dialog);
    dialog.upDateStatus(Map("1100", "102", "150", "2", "300", "120", "5", "1.0", "S"));
    dialog.upDateStatus(Map("", "102", "150", "2", "300", "120", "5", "1.0", "S"));
    ExpectOffline(dialog);
    dialog.upDateStatus(Map("1100", "102", "150", "2", "300", "120"));
    dialog.upDateStatus({});
    ExpectOffline(dialog);
    dialog.upDateStatus(Map("99999", "6", "150", "2", "300", "120", "5", "1.0", "S"));
    ExpectOffline(dialog);
}

TEST_F(Presentation, PaperEndExample)
{
    dialog.upDateStatus(Map("01100", "00102", "150", "2", "300", "120", "000456", "1.23", "A1"));
    EXPECT_EQ(Text(dialog, "label_Status"), "Paper end");
    EXPECT_EQ(Text(dialog, "label_MediaGroup"), "Media Info[ " + QCoreApplication::translate("StatusDialog", "class_0002") + " ]");
    EXPECT_EQ(Text(dialog, "label_MediaGroup"), "Media Info[ Premium ]");
    EXPECT_EQ(Text(dialog, "label_MediaSize"), "4x6in");
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "120 / 300  Sheets");
    EXPECT_EQ(Bar(dialog), 40);
    EXPECT_EQ(Text(dialog, "label_FWValue"), "1.23");
    EXPECT_EQ(Text(dialog, "label_SerialValue"), "A1");
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), "Load new media.\n(Replace the paper and ribbon as a set.)");
    EXPECT_EQ(Picture(dialog), Expected(":/images/PrtStsPaperEnd.bmp"));
    // No queue of this model in CUPS: the count is never shown.
    EXPECT_EQ(Text(dialog, "label_TCValue"), "---");
    EXPECT_EQ(dialog.currentLastTotalCount(), "456");
}

TEST_F(Presentation, RibbonEndShowsNoSheetsLeft)
{
    dialog.upDateStatus(Map("1200", "103", "161", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_Status"), "Ribbon end");
    EXPECT_EQ(Text(dialog, "label_MediaSize"), "4.5x8in");
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "0 / 300  Sheets");
    EXPECT_EQ(Bar(dialog), 0);
    EXPECT_EQ(Picture(dialog), Expected(":/images/PrtStsRibbonEnd.bmp"));
}

TEST_F(Presentation, UnknownMediaSizeAddsTheIncorrectMediaNote)
{
    dialog.upDateStatus(Map("0", "1", "999", "2", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_MediaSize"), "---");
    EXPECT_EQ(Text(dialog, "label_MediaGroup"), "Media Info[ --- ]");
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "0 / 300  Sheets");
    EXPECT_EQ(Bar(dialog), 0);
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), " \n\n<< Incorrect media type has been loaded. >>");
    EXPECT_EQ(Text(dialog, "label_Status"), "Waiting");

    dialog.upDateStatus(Map("1600", "1", "999", "2", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), " ");
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "120 / 300  Sheets");
    EXPECT_EQ(Bar(dialog), 40);
    EXPECT_EQ(Text(dialog, "label_Status"), "System error");
}

TEST_F(Presentation, PercentageIsSinglePrecisionAndTruncated)
{
    const struct { const char *initial, *remain; int percent; } cases[] = {
        {"50", "29", 58}, {"100", "53", 52}, {"3", "1", 33}, {"300", "300", 100}, {"7", "0", 0}};
    for (const auto &c : cases) {
        dialog.upDateStatus(Map("0", "1", "150", "1", c.initial, c.remain));
        EXPECT_EQ(Bar(dialog), c.percent) << c.initial << "/" << c.remain;
    }
    // Outside the bar's range: handed over and ignored, the bar keeps 0.
    dialog.upDateStatus(Map("0", "1", "150", "1", "10", "20"));
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "20 / 10  Sheets");
    EXPECT_EQ(Bar(dialog), 0);
    dialog.upDateStatus(Map("0", "1", "150", "1", "1", "2147483647"));
    EXPECT_EQ(Bar(dialog), 0);
}

TEST_F(Presentation, MissingOrZeroInitialShowsNoSheets)
{
    for (const auto &initial : {"0", "abc", ""}) {
        dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120"));
        dialog.upDateStatus(Map("0", "1", "150", "1", initial, "120"));
        EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "--- / ---  Sheets") << initial;
        EXPECT_EQ(Bar(dialog), 0) << initial;
    }
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", ""));
    EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "--- / ---  Sheets");
}

TEST_F(Presentation, StatusCodesPickTextAndPicture)
{
    const struct { const char *code, *text, *picture; } cases[] = {
        {"abc", "Waiting", ":/images/PrtStsIdle.bmp"},
        {"00001", "Printing", ":/images/PrtStsPrinting.bmp"},
        {"500", "Cooling head", ":/images/PrtStsCooling.bmp"},
        {"900", "Waiting (Power saving mode)", ":/images/PrtStsIdle.bmp"},
        {"1000", "Top door open", ":/images/PrtStsCoverOpen.bmp"},
        {"1010", "No Trash box", ":/images/PrtStsNoScrapBox.bmp"},
        {"1300", "Paper jam", ":/images/PrtStsPaperJam.bmp"},
        {"1400", "Ribbon error", ":/images/PrtStsRibbonErr.bmp"},
        {"1500", "Paper size setting error", ":/images/PrtStsPaperErr.bmp"},
        {"2010", "System error", ":/images/PrtStsSystemErr01.bmp"},
        {"2610", "System error", ":/images/PrtStsSystemErr01.bmp"},
        {"4000", "System error", ":/images/PrtStsSystemErr01.bmp"},
    };
    for (const auto &c : cases) {
        dialog.upDateStatus(Map(c.code, "1", "150", "1", "300", "120"));
        EXPECT_EQ(Text(dialog, "label_Status"), c.text) << c.code;
        EXPECT_EQ(Picture(dialog), Expected(c.picture)) << c.code;
        EXPECT_EQ(Text(dialog, "label_MediaSizeDetails"), "120 / 300  Sheets") << c.code;
    }
    // 2010 has no key of its own: it shows whatever st_03000 says.
    Catalogue german("de");
    dialog.upDateStatus(Map("2010", "1", "150", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_Status"), QCoreApplication::translate("StatusDialog", "st_03000"));
}

TEST_F(Presentation, MessageCodesPickAdvice)
{
    const QString fallback = QCoreApplication::translate("StatusDialog", "ms_00210");
    for (const auto &code : {"0", "7", "109", "211", "xyz", "-3"}) {
        dialog.upDateStatus(Map("0", code, "150", "1", "300", "120"));
        EXPECT_EQ(Text(dialog, "label_StatusMessage"), fallback) << code;
    }
    dialog.upDateStatus(Map("0", "00001", "150", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), " ");
    dialog.upDateStatus(Map("0", "00003", "150", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), "Please wait a while.\nPrinting will resume automatically.");
    dialog.upDateStatus(Map("0", "104", "150", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), "Remove the paper and reload it properly.");
    dialog.upDateStatus(Map("0", "", "150", "1", "300", "120"));
    EXPECT_EQ(Text(dialog, "label_StatusMessage"), "");
}

TEST_F(Presentation, MediaClassesNameTheHeading)
{
    const struct { const char *value, *heading; } cases[] = {
        {"1", "Media Info[ Standard ]"}, {"002", "Media Info[ Premium ]"}, {"3", "Media Info[ Professional ]"},
        {"4", "Media Info[ --- ]"}, {"", "Media Info[ --- ]"}, {"x", "Media Info[ --- ]"}};
    for (const auto &c : cases) {
        dialog.upDateStatus(Map("0", "1", "150", c.value, "300", "120"));
        EXPECT_EQ(Text(dialog, "label_MediaGroup"), c.heading) << c.value;
    }
}

TEST_F(Presentation, EachUpdateReplacesTheScene)
{
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120"));
    auto *view = dialog.findChild<QGraphicsView *>("graphicsView");
    ASSERT_NE(view->scene(), nullptr);
    EXPECT_EQ(view->scene()->items().size(), 1);
    dialog.upDateStatus(Map("1", "1", "150", "1", "300", "120"));
    EXPECT_EQ(view->scene()->items().size(), 1);
    EXPECT_EQ(Picture(dialog).size(), QSize(80, 80));
}

}  // namespace
