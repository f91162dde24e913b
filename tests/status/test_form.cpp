// The main dialog's form: object names, parents, geometry, fonts, frames,
// context menus, stacking and the placeholder texts left after start-up.
#include "presentation_probe.h"
#include "status_test_support.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace status_test;

namespace {

struct WidgetSpec {
    const char *name;
    const char *className;
    const char *parent;
    QRect geometry;
    int pointSize;  // 0: the widget sets no font of its own (and shows no text)
};

const WidgetSpec kWidgets[] = {
    {"printerlabel", "QLabel", "StatusDialog", {10, 14, 180, 17}, 10},
    {"printerComboBox", "QComboBox", "StatusDialog", {200, 10, 340, 25}, 10},
    {"mediaGroupBox", "QGroupBox", "StatusDialog", {10, 50, 530, 121}, 10},
    {"label_MediaSize", "QLabel", "mediaGroupBox", {26, 63, 148, 17}, 9},
    {"label_Per0", "QLabel", "mediaGroupBox", {180, 90, 50, 17}, 9},
    {"label_Per50", "QLabel", "mediaGroupBox", {310, 90, 50, 17}, 9},
    {"label_Per100", "QLabel", "mediaGroupBox", {470, 90, 50, 17}, 9},
    {"progressBar", "QProgressBar", "mediaGroupBox", {180, 60, 310, 23}, 0},
    {"label_MediaSizeDetails", "QLabel", "mediaGroupBox", {180, 30, 330, 17}, 9},
    {"frame_3", "QFrame", "mediaGroupBox", {0, 20, 530, 101}, 0},
    {"label_MediaGroup", "QLabel", "mediaGroupBox", {0, -4, 530, 23}, 10},
    {"statusGroupBox", "QGroupBox", "StatusDialog", {10, 180, 530, 171}, 10},
    {"label_Status", "QLabel", "statusGroupBox", {110, 30, 380, 17}, 9},
    {"label_StatusMessage", "QLabel", "statusGroupBox", {110, 60, 400, 101}, 9},
    {"graphicsView", "QGraphicsView", "statusGroupBox", {10, 30, 84, 84}, 0},
    {"frame_2", "QFrame", "statusGroupBox", {0, 20, 530, 151}, 0},
    {"label_StatusGroup", "QLabel", "statusGroupBox", {0, -4, 551, 23}, 10},
    {"updateButton", "QPushButton", "StatusDialog", {390, 520, 140, 30}, 10},
    {"totalCountGroupBox", "QGroupBox", "StatusDialog", {10, 360, 211, 61}, 0},
    {"label_TCGroup", "QLabel", "totalCountGroupBox", {0, 0, 211, 19}, 10},
    {"frame", "QFrame", "totalCountGroupBox", {0, 20, 211, 41}, 10},
    {"label_TCValue", "QLabel", "frame", {70, 10, 131, 20}, 10},
    {"FWVersionBox", "QGroupBox", "StatusDialog", {230, 360, 311, 61}, 0},
    {"label_FWGroup", "QLabel", "FWVersionBox", {0, 0, 311, 20}, 10},
    {"frame_4", "QFrame", "FWVersionBox", {0, 20, 311, 41}, 0},
    {"label_FWValue", "QLabel", "frame_4", {10, 10, 271, 20}, 10},
    {"serialGroupBox", "QGroupBox", "StatusDialog", {10, 440, 531, 61}, 0},
    {"label_Serial", "QLabel", "serialGroupBox", {0, 0, 531, 19}, 10},
    {"frame_5", "QFrame", "serialGroupBox", {0, 20, 531, 41}, 0},
    {"label_SerialValue", "QLabel", "frame_5", {10, 10, 401, 19}, 10},
    {"versionButton", "QPushButton", "StatusDialog", {10, 520, 140, 30}, 10},
};

class Form : public ::testing::Test {
protected:
    Catalogue english{"en"};
    ScratchDir dir;
    StatusDialog dialog{nullptr, dir.path()};
};

TEST_F(Form, WidgetsHaveTheirNamesPlacesAndFonts)
{
    EXPECT_EQ(dialog.objectName(), "StatusDialog");
    EXPECT_EQ(dialog.size(), QSize(550, 570));
    EXPECT_EQ(dialog.minimumSize(), QSize(550, 570));
    EXPECT_EQ(dialog.maximumSize(), QSize(550, 570));
    EXPECT_EQ(dialog.font().pointSize(), 11);
    EXPECT_EQ(dialog.windowTitle(), "RT-50 Information");
    EXPECT_EQ(dialog.styleSheet(), "background-color: rgb(255, 255, 255);");
    for (const auto &expected : kWidgets) {
        auto *widget = dialog.findChild<QWidget *>(QLatin1String(expected.name));
        ASSERT_NE(widget, nullptr) << expected.name;
        EXPECT_STREQ(widget->metaObject()->className(), expected.className) << expected.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(expected.parent)) << expected.name;
        EXPECT_EQ(widget->geometry(), expected.geometry) << expected.name;
        if (expected.pointSize != 0) {
            EXPECT_EQ(widget->font().pointSize(), expected.pointSize) << expected.name;
        }
    }
}

TEST_F(Form, FramesMenusAndStacking)
{
    for (const char *name : {"frame", "frame_2", "frame_3", "frame_4", "frame_5"}) {
        auto *frame = dialog.findChild<QFrame *>(QLatin1String(name));
        EXPECT_EQ(frame->frameShape(), QFrame::StyledPanel) << name;
        EXPECT_EQ(frame->frameShadow(), QFrame::Raised) << name;
    }
    EXPECT_EQ(dialog.findChild<QLabel *>("label_Status")->frameShape(), QFrame::Box);
    for (const char *name : {"printerComboBox", "mediaGroupBox", "progressBar", "label_Status", "label_StatusMessage",
                             "graphicsView"})
        EXPECT_EQ(dialog.findChild<QWidget *>(QLatin1String(name))->contextMenuPolicy(), Qt::NoContextMenu) << name;
    auto *message = dialog.findChild<QLabel *>("label_StatusMessage");
    EXPECT_TRUE(message->wordWrap());
    EXPECT_EQ(message->alignment() & (Qt::AlignLeft | Qt::AlignTop), Qt::AlignLeft | Qt::AlignTop);
    EXPECT_EQ(dialog.findChild<QComboBox *>("printerComboBox")->styleSheet(),
              "background-color: rgb(255, 255, 255);\nselection-background-color: rgb(52, 101, 164);");
    auto *bar = dialog.findChild<QProgressBar *>("progressBar");
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    auto *view = dialog.findChild<QGraphicsView *>("graphicsView");
    EXPECT_EQ(view->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(view->focusPolicy(), Qt::NoFocus);

    // Headings above their panels, panels below everything else.
    const auto order = [&](const char *box) {
        QStringList names;
        for (QObject *child : dialog.findChild<QGroupBox *>(QLatin1String(box))->children()) {
            if (child->isWidgetType())
                names << child->objectName();
        }
        return names;
    };
    EXPECT_EQ(order("mediaGroupBox"), (QStringList{"frame_3", "label_MediaSize", "label_Per0", "label_Per50",
                                                   "label_Per100", "progressBar", "label_MediaSizeDetails",
                                                   "label_MediaGroup"}));
    EXPECT_EQ(order("statusGroupBox"),
              (QStringList{"frame_2", "label_Status", "label_StatusMessage", "graphicsView", "label_StatusGroup"}));

    auto *update = dialog.findChild<QPushButton *>("updateButton");
    auto *about = dialog.findChild<QPushButton *>("versionButton");
    EXPECT_TRUE(update->isDefault());
    EXPECT_FALSE(about->isDefault());
    EXPECT_FALSE(update->autoDefault());
    EXPECT_FALSE(about->autoDefault());
}

TEST_F(Form, StartUpTextsReplaceEveryPlaceholder)
{
    EXPECT_EQ(Text(dialog, "printerlabel"), "Select printer");
    EXPECT_EQ(Text(dialog, "label_StatusGroup"), "Printer Status");
    EXPECT_EQ(Text(dialog, "label_Serial"), "Serial No.");
    EXPECT_EQ(Text(dialog, "label_FWGroup"), "Firmware Version");
    EXPECT_EQ(Text(dialog, "label_TCGroup"), "Total Count");
    EXPECT_EQ(Text(dialog, "label_Per0"), "0%");
    EXPECT_EQ(Text(dialog, "label_Per100"), "100%");
    EXPECT_EQ(dialog.findChild<QPushButton *>("versionButton")->text(), "About");
    for (QLabel *label : dialog.findChildren<QLabel *>())
        EXPECT_NE(label->text(), "TextLabel") << label->objectName().toStdString();
    for (QPushButton *button : dialog.findChildren<QPushButton *>())
        EXPECT_NE(button->text(), "PushButton");
    for (QGroupBox *box : dialog.findChildren<QGroupBox *>())
        EXPECT_TRUE(box->title().isEmpty());
}

TEST_F(Form, NoPrinterMeansNoFilesAndUpdateDoesNothing)
{
    EXPECT_EQ(dialog.findChild<QComboBox *>("printerComboBox")->count(), 0);
    EXPECT_FALSE(dialog.isMonitorRunning());
    EXPECT_FALSE(dialog.isRegisterPrinter());
    dialog.findChild<QPushButton *>("updateButton")->click();
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_EQ(Text(dialog, "label_Status"), "Offline");
}

}  // namespace
