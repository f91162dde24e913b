// The dialog controller against a private CUPS scheduler: which queues are
// listed, the serial number taken from the URI, the watch file following the
// selection, the refresh file, and what closing removes.
#include "controller_fixture.h"
#include "presentation_probe.h"
#include "status_test_support.h"
#include "statusmonitor.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace status_test;

extern "C" const char *__lsan_default_suppressions();

namespace {

QString gSerial1;
QString gSerial2;

QString Uri(const QString &serial)
{
    return QStringLiteral("vantora-zpxbackend://VANTORA/RT-50?serial=") + serial;
}

bool AddQueue(const QString &name, const QString &uri)
{
    return gCupsd->AddQueue(name.toStdString(), uri.toStdString());
}

void RemoveQueue(const QString &name)
{
    gCupsd->Run({"lpadmin", "-x", name.toStdString()});
}

mode_t ModeOf(const QString &path)
{
    struct stat info;
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

QStringList Items(StatusDialog &dialog)
{
    auto *combo = dialog.findChild<QComboBox *>("printerComboBox");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QComboBox *Combo(StatusDialog &dialog)
{
    return dialog.findChild<QComboBox *>("printerComboBox");
}

void PressOnCombo(StatusDialog &dialog)
{
    QComboBox *combo = Combo(dialog);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    // Only the filter sees it: the list is rebuilt but no popup opens.
    static_cast<QObject &>(dialog).eventFilter(combo, &press);
}

class Controller : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gSerial1 = UniqueSerial("a");
        gSerial2 = UniqueSerial("b");
        // CUPS lists destinations by name; only the two RT-50 queues count.
        ASSERT_TRUE(AddQueue("A-Other", "file:///dev/null"));
        ASSERT_TRUE(AddQueue("B-Lookalike", "ipp://localhost/printers/x?serial=" + gSerial1));
        ASSERT_TRUE(AddQueue("C-OtherScheme", "usb://VANTORA/RT-50?serial=" + gSerial1));
        ASSERT_TRUE(AddQueue("VANTORA-RT-50", Uri(gSerial1)));
        ASSERT_TRUE(AddQueue("VANTORA-RT-50-2", Uri(gSerial2)));
    }

    QString WatchFile(const QString &serial) const { return dir.file("RT-50_" + serial + "_UTIL"); }
    QString RefreshFile(const QString &serial) const { return dir.file("RT-50_" + serial + "_TC_UTIL"); }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot); }

    Catalogue english{"en"};
    ScratchDir dir;
};

TEST_F(Controller, ListsThisModelsQueuesAndWatchesTheFirst)
{
    StatusDialog dialog(nullptr, dir.path());
    EXPECT_EQ(Items(dialog), (QStringList{"VANTORA-RT-50", "VANTORA-RT-50-2"}));
    EXPECT_EQ(dialog.printers().size(), 2);
    EXPECT_EQ(Combo(dialog)->currentIndex(), 0);
    EXPECT_EQ(dialog.currentSerialNumber(), gSerial1);
    EXPECT_TRUE(dialog.isRegisterPrinter());
    EXPECT_EQ(Files(), QStringList{"RT-50_" + gSerial1 + "_UTIL"});
    EXPECT_EQ(ModeOf(WatchFile(gSerial1)), 0666u);
    EXPECT_EQ(QFileInfo(WatchFile(gSerial1)).size(), 0);
    EXPECT_EQ(dialog.currentWatchFilePath(), WatchFile(gSerial1));
    ASSERT_TRUE(dialog.isMonitorRunning());
    EXPECT_EQ(dialog.currentMonitor()->filePath(), dir.file("RT-50_" + gSerial1 + ".log"));
    EXPECT_EQ(dialog.currentMonitor()->interval(), 500);
}

TEST_F(Controller, ChoosingAnotherPrinterMovesTheWatchFile)
{
    StatusDialog dialog(nullptr, dir.path());
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120", "12"));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "12");
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120", ""));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "12");  // a known count survives
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120", "1x"));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "12");

    Combo(dialog)->setCurrentIndex(1);
    EXPECT_EQ(dialog.currentSerialNumber(), gSerial2);
    EXPECT_EQ(Files(), QStringList{"RT-50_" + gSerial2 + "_UTIL"});
    EXPECT_EQ(dialog.currentWatchFilePath(), WatchFile(gSerial2));
    EXPECT_TRUE(dialog.currentLastTotalCount().isEmpty());
    EXPECT_EQ(dialog.currentMonitor()->filePath(), dir.file("RT-50_" + gSerial2 + ".log"));
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120", ""));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "---");
    dialog.upDateStatus(Map("01100", "00102", "150", "2", "300", "120", "000456", "1.23", "A1"));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "456");
}

TEST_F(Controller, ReselectingTheSamePrinterOnlyRestartsTheMonitor)
{
    StatusDialog dialog(nullptr, dir.path());
    dialog.upDateStatus(Map("0", "1", "150", "1", "300", "120", "77"));
    QPointer<StatusMonitor> before = dialog.currentMonitor();
    ASSERT_TRUE(QFile::remove(WatchFile(gSerial1)));  // so a new creation would show

    PressOnCombo(dialog);
    EXPECT_EQ(Items(dialog), (QStringList{"VANTORA-RT-50", "VANTORA-RT-50-2"}));
    EXPECT_EQ(Combo(dialog)->currentIndex(), 0);
    EXPECT_TRUE(before.isNull());
    EXPECT_TRUE(dialog.isMonitorRunning());
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_EQ(dialog.currentLastTotalCount(), "77");
}

TEST_F(Controller, PressOnTheListGoesBackToTheFirstPrinter)
{
    StatusDialog dialog(nullptr, dir.path());
    Combo(dialog)->setCurrentIndex(1);
    ASSERT_EQ(Files(), QStringList{"RT-50_" + gSerial2 + "_UTIL"});
    PressOnCombo(dialog);
    EXPECT_EQ(Combo(dialog)->currentIndex(), 0);
    EXPECT_EQ(dialog.currentSerialNumber(), gSerial1);
    EXPECT_EQ(Files(), QStringList{"RT-50_" + gSerial1 + "_UTIL"});
}

TEST_F(Controller, DownKeyActsOnTheRebuiltList)
{
    StatusDialog dialog(nullptr, dir.path());
    dialog.show();
    Combo(dialog)->setCurrentIndex(1);
    QTest::keyClick(Combo(dialog), Qt::Key_Down);
    // Rebuilt first (first printer current), then Down: the second again.
    EXPECT_EQ(Combo(dialog)->currentIndex(), 1);
    EXPECT_EQ(dialog.currentSerialNumber(), gSerial2);
    EXPECT_EQ(Files(), QStringList{"RT-50_" + gSerial2 + "_UTIL"});
}

TEST_F(Controller, UpdateCreatesTheRefreshFile)
{
    StatusDialog dialog(nullptr, dir.path());
    dialog.show();
    auto *update = dialog.findChild<QPushButton *>("updateButton");
    EXPECT_EQ(update->text(), "Update");
    EXPECT_TRUE(update->isDefault());
    update->click();
    EXPECT_EQ(ModeOf(RefreshFile(gSerial1)), 0666u);
    EXPECT_EQ(QFileInfo(RefreshFile(gSerial1)).size(), 0);
    update->click();
    EXPECT_EQ(Files().size(), 2);
    // Enter activates Update, the default button, not About.
    ASSERT_TRUE(QFile::remove(RefreshFile(gSerial1)));
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(QFileInfo::exists(RefreshFile(gSerial1)));
    EXPECT_FALSE(dialog.aboutDialog().isVisible());
}

TEST_F(Controller, ClosingRemovesOnlyTheWatchFile)
{
    {
        StatusDialog dialog(nullptr, dir.path());
        ASSERT_TRUE(WriteFile(dir.file("RT-50_" + gSerial1 + ".log"), "status"));
        dialog.push_update();
        EXPECT_EQ(Files().size(), 3);
    }
    EXPECT_EQ(Files(), (QStringList{"RT-50_" + gSerial1 + ".log", "RT-50_" + gSerial1 + "_TC_UTIL"}));
}

TEST_F(Controller, EmptiedListStopsTheMonitorAndKeepsThePresentation)
{
    StatusDialog dialog(nullptr, dir.path());
    dialog.upDateStatus(Map("1", "2", "150", "1", "300", "120", "5", "1.0", "Z9"));
    Combo(dialog)->clear();
    EXPECT_FALSE(dialog.isMonitorRunning());
    EXPECT_EQ(dialog.currentMonitor(), nullptr);
    EXPECT_EQ(Text(dialog, "label_Status"), "Printing");
    EXPECT_EQ(Text(dialog, "label_SerialValue"), "Z9");
    EXPECT_EQ(dialog.currentSerialNumber(), gSerial1);
    EXPECT_TRUE(QFileInfo::exists(WatchFile(gSerial1)));
}

TEST_F(Controller, StatusFileIsPolledAndShown)
{
    StatusDialog dialog(nullptr, dir.path());
    ASSERT_TRUE(WriteFile(dir.file("RT-50_" + gSerial1 + ".log"),
                          StatusFileText("00001", "00002", "1.07", gSerial1, "150", "1", "300", "299", "4711")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Text(dialog, "label_Status") == "Printing"; }, 5000));
    EXPECT_EQ(Text(dialog, "label_TCValue"), "4711");
    EXPECT_EQ(Text(dialog, "label_FWValue"), "1.07");
    EXPECT_EQ(Text(dialog, "label_SerialValue"), gSerial1);
    EXPECT_EQ(Bar(dialog), 99);
}

TEST_F(Controller, InstancesAreListedOncePerInstanceAtStart)
{
    QDir().mkpath(gHome + "/.cups");
    ASSERT_TRUE(WriteFile(gHome + "/.cups/lpoptions", "Dest VANTORA-RT-50/photo copies=2\n"));
    {
        StatusDialog dialog(nullptr, dir.path());
        EXPECT_EQ(Items(dialog), (QStringList{"VANTORA-RT-50", "VANTORA-RT-50", "VANTORA-RT-50-2"}));
        EXPECT_EQ(dialog.printers().size(), 2);
        PressOnCombo(dialog);
        EXPECT_EQ(Items(dialog), (QStringList{"VANTORA-RT-50", "VANTORA-RT-50-2"}));
    }
    QFile::remove(gHome + "/.cups/lpoptions");
}

TEST_F(Controller, UnusableSerialsCreateNoFiles)
{
    const QString longSerial(120, QLatin1Char('L'));
    ASSERT_TRUE(AddQueue("VANTORA-RT-50-3", Uri(longSerial)));
    ASSERT_TRUE(AddQueue("VANTORA-RT-50-4", Uri(QString())));
    ASSERT_TRUE(AddQueue("VANTORA-RT-50-5", Uri("A/B")));
    // What a status file "RT-50_A/B.log" would show.
    ASSERT_TRUE(QDir(dir.path()).mkdir("RT-50_A"));
    ASSERT_TRUE(WriteFile(dir.file("RT-50_A/B.log"),
                          StatusFileText("00001", "00002", "1.07", "A/B", "150", "1", "300", "299", "4711")));
    {
        StatusDialog dialog(nullptr, dir.path());
        ASSERT_EQ(Combo(dialog)->count(), 5);
        // Too long or holding a '/': no request file is made, not even under
        // a cut name, and there is no status file to read (the daemon writes
        // none): the printer is shown offline.
        for (int item : {2, 4}) {
            Combo(dialog)->setCurrentIndex(0);
            dialog.upDateStatus(Map("1", "2", "150", "1", "300", "120"));
            Combo(dialog)->setCurrentIndex(item);
            EXPECT_EQ(dialog.currentSerialNumber(), item == 2 ? longSerial : QString("A/B"));
            EXPECT_TRUE(Files().isEmpty());
            EXPECT_EQ(dialog.currentWatchFilePath(), WatchFile(gSerial1));
            EXPECT_FALSE(dialog.isMonitorRunning());
            EXPECT_EQ(Text(dialog, "label_Status"), "Offline");
            dialog.push_update();
            EXPECT_TRUE(Files().isEmpty());
        }

        // Nothing after "serial=": serial kept, no monitor, offline.
        Combo(dialog)->setCurrentIndex(0);
        dialog.upDateStatus(Map("1", "2", "150", "1", "300", "120"));
        Combo(dialog)->setCurrentIndex(3);
        EXPECT_EQ(dialog.currentSerialNumber(), gSerial1);
        EXPECT_FALSE(dialog.isMonitorRunning());
        EXPECT_EQ(Text(dialog, "label_Status"), "Offline");
    }
    RemoveQueue("VANTORA-RT-50-3");
    RemoveQueue("VANTORA-RT-50-4");
    RemoveQueue("VANTORA-RT-50-5");
}

TEST_F(Controller, TheProgramsFolderIsTmp)
{
    const QString watch = "/tmp/RT-50_" + gSerial1 + "_UTIL";
    {
        StatusDialog dialog;
        EXPECT_TRUE(QFileInfo::exists(watch));
        EXPECT_EQ(dialog.currentMonitor()->filePath(), "/tmp/RT-50_" + gSerial1 + ".log");
    }
    EXPECT_FALSE(QFileInfo::exists(watch));
}

TEST_F(Controller, TheProgramEndedBySignalRemovesItsWatchFile)
{
    const QString watch = "/tmp/RT-50_" + gSerial1 + "_UTIL";
    // The sanitizer build checks the program for leaks beyond Qt's own, as
    // it does the tests.
    const QString suppressions = dir.file("lsan.supp");
    ASSERT_TRUE(WriteFile(suppressions, __lsan_default_suppressions()));
    const QByteArray lsanOptions = "suppressions=" + QFile::encodeName(suppressions);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        QFile::remove(watch);
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("LSAN_OPTIONS", lsanOptions.constData(), 1);
            const int null = open("/dev/null", O_WRONLY);  // the instance scan's echo
            dup2(null, 1);
            execl(VANTORA_STATUS_PROGRAM, VANTORA_STATUS_PROGRAM, static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        const bool watching = QTest::qWaitFor([&] { return QFileInfo::exists(watch); }, 20000);
        kill(pid, number);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(watching) << "signal " << number;
        EXPECT_TRUE(WIFEXITED(status)) << "signal " << number << " status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "signal " << number;
        EXPECT_FALSE(QFileInfo::exists(watch)) << "signal " << number;
    }
}

}  // namespace
