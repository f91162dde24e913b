// The About box: fixed size, texts per catalogue, icon, modality, and how
// the main dialog places and shows it.
#include "presentation_probe.h"
#include "status_test_support.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace status_test;

namespace {

QLabel *Label(QWidget &dialog, const char *name)
{
    return dialog.findChild<QLabel *>(QLatin1String(name));
}

TEST(VersionDialog, FixedSizeModalWithIconAndTexts)
{
    Catalogue english("en");
    VersionDialog dialog;
    EXPECT_EQ(dialog.objectName(), "VersionDialog");
    EXPECT_EQ(dialog.size(), QSize(320, 200));
    EXPECT_EQ(dialog.minimumSize(), QSize(320, 200));
    EXPECT_EQ(dialog.maximumSize(), QSize(320, 200));
    EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog.windowTitle(), "RT-50 Information");
    EXPECT_EQ(Label(dialog, "label_VersionNo")->text(), "Version 1.0.0");
    const QLabel *notice = Label(dialog, "label_CopyRight");
    EXPECT_TRUE(notice->text().contains("2021"));
    EXPECT_LE(QFontMetrics(notice->font()).horizontalAdvance(notice->text()), notice->width());
    EXPECT_EQ(notice->locale(), QLocale(QLocale::English, QLocale::UnitedStates));

    auto *view = dialog.findChild<QGraphicsView *>("graphicsView");
    ASSERT_NE(view->scene(), nullptr);
    auto *item = dynamic_cast<QGraphicsPixmapItem *>(view->scene()->items().value(0));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->pixmap().size(), QSize(80, 80));
    EXPECT_FALSE(item->pixmap().isNull());
}

TEST(VersionDialog, VersionTextPerCatalogue)
{
    {
        VersionDialog none;  // no catalogue: the key is the English word
        EXPECT_EQ(Label(none, "label_VersionNo")->text(), "Version 1.0.0");
    }
    Catalogue spanish("es");
    VersionDialog dialog;
    EXPECT_EQ(Label(dialog, "label_VersionNo")->text(), QString::fromUtf8("Versión 1.0.0"));
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Información de RT-50"));
}

TEST(VersionDialog, AboutCentresOnceThenKeepsThePlace)
{
    Catalogue english("en");
    ScratchDir dir;
    StatusDialog main(nullptr, dir.path());
    main.show();
    auto *about = main.findChild<QPushButton *>("versionButton");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "About");
    about->click();
    VersionDialog &box = main.aboutDialog();
    EXPECT_TRUE(box.isVisible());
    // Modal: the main window takes no input while it is open.
    EXPECT_EQ(QApplication::activeModalWidget(), &box);
    const QRect centred = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, box.size(),
                                              QGuiApplication::primaryScreen()->availableGeometry());
    EXPECT_EQ(box.geometry(), centred);
    box.hide();
    box.move(centred.topLeft() + QPoint(37, 21));
    about->click();
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(box.pos(), centred.topLeft() + QPoint(37, 21));
    box.hide();
}

}  // namespace
