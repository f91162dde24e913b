// Screenshots of the main dialog in each language on a real X server
// (Xvfb, started here on a free display), written into the build folder and
// checked to be neither blank nor clipped. Every catalogue text is also
// measured against the widget that shows it.
#include "catalogue_keys.h"
#include "form_checks.h"
#include "presentation_probe.h"
#include "private_cupsd.h"
#include "status_test_support.h"
#include "statusmonitor.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace status_test;

namespace {

QString gShotDir;
QString gSerial;

// Not blank: many colours, and a fair share of the picture is not white.
void ExpectNotBlank(const QImage &shot, const QString &what)
{
    ASSERT_FALSE(shot.isNull()) << what.toStdString();
    QSet<QRgb> colours;
    qint64 inked = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb pixel = shot.pixel(x, y);
            colours.insert(pixel);
            if (qGray(pixel) < 200)
                ++inked;
        }
    }
    EXPECT_GT(colours.size(), 40) << what.toStdString();
    EXPECT_GT(inked, qint64(shot.width()) * shot.height() / 50) << what.toStdString();
}

QImage Shoot(StatusDialog &dialog)
{
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog, 5000))
        return QImage();
    dialog.raise();
    QTest::qWait(100);
    QApplication::processEvents();
    return QGuiApplication::primaryScreen()->grabWindow(dialog.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

class Screenshots : public ::testing::TestWithParam<const char *> {};

TEST_P(Screenshots, DialogInEachState)
{
    const QString language = QLatin1String(GetParam());
    Catalogue catalogue(language);
    ASSERT_TRUE(catalogue.loaded());
    ScratchDir dir;
    StatusDialog dialog(nullptr, dir.path());
    ASSERT_EQ(dialog.findChild<QComboBox *>("printerComboBox")->count(), 1);

    // The daemon's status file drives the dialog, as in real use.
    const QString statusFile = dir.file("RT-50_" + gSerial + ".log");
    const auto tr = [](const char *key) { return QCoreApplication::translate("StatusDialog", key); };
    const struct { const char *state; QByteArray file; QString shown; } states[] = {
        {"offline", QByteArray(), tr("st_99999")},
        {"printing", StatusFileText("00001", "00002", "1.02.03", gSerial, "150", "1", "300", "187", "12345"),
         tr("st_00001")},
        {"wrongmedia", StatusFileText("00000", "00003", "1.02.03", gSerial, "999", "2", "300", "187", "12345"),
         tr("st_00000")},
        {"systemerror", StatusFileText("02610", "00107", "1.02.03", gSerial, "161", "3", "200", "20", "12345"),
         tr("st_02610")},
    };
    for (const auto &state : states) {
        const QString what = language + "/" + state.state;
        if (!state.file.isEmpty()) {
            ASSERT_TRUE(WriteFile(statusFile, state.file));
            // Shown at once from the same file; the dialog's own monitor
            // then keeps showing the same.
            StatusMonitor reader(statusFile, 60000);
            dialog.upDateStatus(reader.getPrinterStatus());
        }
        ASSERT_EQ(Text(dialog, "label_Status"), state.shown) << what.toStdString();
        const QImage shot = Shoot(dialog);
        ASSERT_EQ(shot.size(), QSize(550, 570)) << what.toStdString();
        EXPECT_TRUE(shot.save(gShotDir + "/status_" + language + "_" + state.state + ".png"));
        ExpectNotBlank(shot, what);
        ExpectNothingClipped(dialog, what);
        if (!state.file.isEmpty()) {
            EXPECT_EQ(Text(dialog, "label_TCValue"), "12345") << what.toStdString();
        }
    }

    // The About box as well.
    VersionDialog &about = dialog.aboutDialog();
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about, 5000));
    QTest::qWait(50);
    const QImage aboutShot =
        QGuiApplication::primaryScreen()->grabWindow(about.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(aboutShot.size(), QSize(320, 200));
    EXPECT_TRUE(aboutShot.save(gShotDir + "/about_" + language + ".png"));
    about.hide();
}

TEST_P(Screenshots, EveryCatalogueTextFitsItsWidget)
{
    const QString language = QLatin1String(GetParam());
    Catalogue catalogue(language);
    ScratchDir dir;
    StatusDialog dialog(nullptr, dir.path());
    const auto tr = [](const char *key) { return QCoreApplication::translate("StatusDialog", key); };
    QString why;

    auto *status = dialog.findChild<QLabel *>("label_Status");
    auto *message = dialog.findChild<QLabel *>("label_StatusMessage");
    auto *heading = dialog.findChild<QLabel *>("label_MediaGroup");
    auto *size = dialog.findChild<QLabel *>("label_MediaSize");
    auto *sheets = dialog.findChild<QLabel *>("label_MediaSizeDetails");
    for (const auto &entry : CatalogueEntries()) {
        if (QLatin1String(entry.context) != QLatin1String("StatusDialog"))
            continue;
        const QString text = tr(entry.key.toUtf8().constData());
        if (entry.key.startsWith("st_")) {
            EXPECT_TRUE(Fits(status, text, &why)) << language.toStdString() << " " << why.toStdString();
        } else if (entry.key.startsWith("ms_")) {
            // With the incorrect-media note below it, as the dialog may show it.
            EXPECT_TRUE(Fits(message, text + "\n" + tr("ms_00108"), &why)) << language.toStdString() << " " << why.toStdString();
        } else if (entry.key.startsWith("class_")) {
            EXPECT_TRUE(Fits(heading, tr("mediaGroupTitle") + "[ " + text + " ]", &why)) << why.toStdString();
        } else if (entry.key.startsWith("size_")) {
            EXPECT_TRUE(Fits(size, text, &why)) << why.toStdString();
        }
    }
    EXPECT_TRUE(Fits(sheets, "1000 / 1000  " + tr("sheets"), &why)) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Languages, Screenshots, ::testing::Values("en", "de", "fr", "es", "ja", "zh"));

TEST(Artwork, ContactSheetAt80)
{
    // The pictures as the dialog shows them, side by side, for a person to look at.
    const char *names[] = {"PrtStsIdle", "PrtStsPrinting", "PrtStsCooling", "PrtStsCoverOpen", "PrtStsPaperEnd",
                           "PrtStsPaperErr", "PrtStsPaperJam", "PrtStsRibbonEnd", "PrtStsRibbonErr",
                           "PrtStsNoScrapBox", "PrtStsSystemErr01", "PrtStsOffline"};
    QImage sheet(12 * 90 + 10, 100, QImage::Format_RGB32);
    sheet.fill(QColor(0xdd, 0xdd, 0xdd));
    QPainter painter(&sheet);
    int x = 10;
    for (const char *name : names) {
        const QImage picture = Expected((QStringLiteral(":/images/") + name + ".bmp").toLatin1().constData());
        ASSERT_FALSE(picture.isNull()) << name;
        painter.drawImage(x, 10, picture);
        x += 90;
    }
    painter.end();
    EXPECT_TRUE(sheet.save(gShotDir + "/artwork_80.png"));
}

// An X server of our own on a free display; stopped at exit.
class Xvfb {
public:
    bool Start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   "-ac", "-nolock", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (pid_ < 0) {
            close(fds[0]);
            return false;
        }
        char number[16] = {};
        ssize_t got = 0;
        for (;;) {
            ssize_t n = read(fds[0], number + got, sizeof(number) - 1 - got);
            if (n <= 0 || got + n >= static_cast<ssize_t>(sizeof(number)) - 1)
                break;
            got += n;
            if (memchr(number, '\n', got) != nullptr)
                break;
        }
        close(fds[0]);
        if (got == 0)
            return false;
        display_ = ":" + std::string(number, strcspn(number, "\n"));
        return true;
    }
    ~Xvfb()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string &display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(statusmonitor);
    testing::InitGoogleTest(&argc, argv);
    char home[] = "/tmp/vantora-status-shots-XXXXXX";
    if (mkdtemp(home) == nullptr)
        return 1;
    setenv("HOME", home, 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    chmod(home, 0700);
    gShotDir = QDir::currentPath() + "/screenshots";
    QDir().mkpath(gShotDir);

    int result = 1;
    {
        Xvfb xvfb;
        if (!xvfb.Start()) {
            fprintf(stderr, "Xvfb did not start\n");
        } else {
            setenv("DISPLAY", xvfb.display().c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            QApplication app(argc, argv);
            vantora_test::PrivateCupsd cupsd;
            if (!cupsd.Start()) {
                fprintf(stderr, "private cupsd did not start: %s\n", cupsd.error().c_str());
            } else {
                gSerial = UniqueSerial("shot");
                if (cupsd.AddQueue("VANTORA-RT-50", "vantora-zpxbackend://VANTORA/RT-50?serial=" + gSerial.toStdString()))
                    result = RUN_ALL_TESTS();
            }
        }
    }
    QDir(QString::fromLocal8Bit(home)).removeRecursively();
    return result;
}
