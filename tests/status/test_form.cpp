// The main dialog's form: nothing clipped at start-up, context menus,
// stacking, the default button and the placeholder texts left after start-up.
#include "form_checks.h"
#include "presentation_probe.h"
#include "status_test_support.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace status_test;

namespace {

class Form : public ::testing::Test {
protected:
    Catalogue english{"en"};
    ScratchDir dir;
    StatusDialog dialog{nullptr, dir.path()};
};

// The dialog keeps its size, and at start-up every widget shows its whole
// text inside its box and the dialog (the checks the screenshots make in
// every language, here offscreen).
TEST_F(Form, StartUpFormFitsItsFixedSize)
{
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.size(), dialog.minimumSize());
    ExpectNothingClipped(dialog, QStringLiteral("start-up"));
}

TEST_F(Form, MenusWrappingAndStacking)
{
    for (const char *name : {"printerComboBox", "mediaGroupBox", "progressBar", "label_Status", "label_StatusMessage",
                             "graphicsView"})
        EXPECT_EQ(dialog.findChild<QWidget *>(QLatin1String(name))->contextMenuPolicy(), Qt::NoContextMenu) << name;
    auto *message = dialog.findChild<QLabel *>("label_StatusMessage");
    EXPECT_TRUE(message->wordWrap());
    EXPECT_EQ(message->alignment() & (Qt::AlignLeft | Qt::AlignTop), Qt::AlignLeft | Qt::AlignTop);
    auto *bar = dialog.findChild<QProgressBar *>("progressBar");
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    auto *view = dialog.findChild<QGraphicsView *>("graphicsView");
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
