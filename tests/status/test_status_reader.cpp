// The status file reader: the 16-line layout, keys taken in sequence, torn
// and missing files, retries, and files in /tmp that are not status files.
#include "status_test_support.h"
#include "statusmonitor.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using status_test::ScratchDir;
using status_test::StatusFileText;
using status_test::WriteFile;

namespace {

using StatusMap = QMap<QString, QString>;

QByteArray SampleFile()
{
    return StatusFileText("01100", "00103", "1.23", "A1", "150", "2", "300", "120", "000456");
}

// A monitor on a file of the scratch folder whose pauses are counted, not slept.
struct Reader {
    explicit Reader(const ScratchDir &dir) : monitor(dir.file("RT-50_X.log"), 60000)
    {
        monitor.setRetryPause([this] { ++pauses; if (onPause) onPause(); });
    }
    QString path() const { return monitor.filePath(); }
    StatusMonitor monitor;
    int pauses = 0;
    std::function<void()> onPause;
};

TEST(StatusReader, CompleteFileGivesAllNineRawValues)
{
    ScratchDir dir;
    Reader reader(dir);
    ASSERT_TRUE(WriteFile(reader.path(), SampleFile()));
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(reader.pauses, 0);
    EXPECT_EQ(map.size(), 9);
    EXPECT_EQ(map["PRINTER_STATUS"], "01100");
    EXPECT_EQ(map["PRINTER_MESSAGE"], "00103");
    EXPECT_EQ(map["PRINTER_VERSION"], "1.23");
    EXPECT_EQ(map["PRINTER_SERIAL_NO"], "A1");
    EXPECT_EQ(map["MEDIA_SIZE"], "150");
    EXPECT_EQ(map["MEDIA_CLASS"], "2");
    EXPECT_EQ(map["MEDIA_INITIAL"], "300");
    EXPECT_EQ(map["MEDIA_REMAIN"], "120");
    EXPECT_EQ(map["TOTAL_COUNT"], "000456");
    EXPECT_FALSE(map.contains("MODEL"));
}

TEST(StatusReader, MissingFileGivesOfflineMapAfterOneRetry)
{
    ScratchDir dir;
    Reader reader(dir);
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(reader.pauses, 1);
    EXPECT_EQ(map, StatusMonitor::offlineMap());
    EXPECT_EQ(map.size(), 9);
    EXPECT_EQ(map["PRINTER_STATUS"], "99999");
    EXPECT_EQ(map["PRINTER_MESSAGE"], "00006");
    EXPECT_EQ(map["TOTAL_COUNT"], "");
}

TEST(StatusReader, WrongLineCountGivesEmptyMap)
{
    ScratchDir dir;
    Reader reader(dir);
    QByteArray full = SampleFile();
    // No line break after the last line: 16 pieces.
    ASSERT_TRUE(WriteFile(reader.path(), full.left(full.size() - 1)));
    EXPECT_TRUE(reader.monitor.getPrinterStatus().isEmpty());
    EXPECT_EQ(reader.pauses, 1);
    // One blank line too many: 18 pieces.
    ASSERT_TRUE(WriteFile(reader.path(), full + "\n"));
    StatusMap map{{"stale", "x"}};
    EXPECT_FALSE(reader.monitor.createStatusMap(map));
    EXPECT_TRUE(map.isEmpty());
}

TEST(StatusReader, TornFileIsReadAgainAfterThePause)
{
    ScratchDir dir;
    Reader reader(dir);
    // Caught just after the daemon truncated the file; complete 100 ms later.
    ASSERT_TRUE(WriteFile(reader.path(), QByteArray()));
    reader.onPause = [&] { WriteFile(reader.path(), SampleFile()); };
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(reader.pauses, 1);
    EXPECT_EQ(map.size(), 9);
    EXPECT_EQ(map["MEDIA_REMAIN"], "120");

    // Still half written at the second attempt: an empty map.
    reader.pauses = 0;
    ASSERT_TRUE(WriteFile(reader.path(), SampleFile().left(60)));
    reader.onPause = nullptr;
    EXPECT_TRUE(reader.monitor.getPrinterStatus().isEmpty());
    EXPECT_EQ(reader.pauses, 1);
}

TEST(StatusReader, EmptyStatusMeansOfflineButEmptyMessageStaysEmpty)
{
    ScratchDir dir;
    Reader reader(dir);
    ASSERT_TRUE(WriteFile(reader.path(), StatusFileText("", "", "", "", "", "", "", "", "")));
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(map.size(), 9);
    EXPECT_EQ(map["PRINTER_STATUS"], "99999");
    EXPECT_EQ(map["PRINTER_MESSAGE"], "");
    EXPECT_EQ(map["TOTAL_COUNT"], "");
}

TEST(StatusReader, KeysAreTakenOnlyInSequence)
{
    ScratchDir dir;
    Reader reader(dir);
    QByteArray text = SampleFile();

    // Missing version line (kept as a blank line): later keys wait behind it.
    QByteArray noVersion = text;
    noVersion.replace("PRINTER_VERSION=\"1.23\"", "");
    ASSERT_TRUE(WriteFile(reader.path(), noVersion));
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(map.keys(), (QStringList{"PRINTER_MESSAGE", "PRINTER_STATUS"}));

    // Message before status: skipped, taken from a later message line.
    QByteArray swapped =
        "#PRINTER_INFORMATION\nPRINTER_MESSAGE=\"00100\"\nPRINTER_STATUS=\"01000\"\nPRINTER_MESSAGE=\"00101\"\n"
        "PRINTER_VERSION=\"2\"\n\n\n\n\n\n\n\n\n\n\n\n";
    ASSERT_TRUE(WriteFile(reader.path(), swapped));
    map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(map["PRINTER_STATUS"], "01000");
    EXPECT_EQ(map["PRINTER_MESSAGE"], "00101");
    EXPECT_EQ(map["PRINTER_VERSION"], "2");
    EXPECT_EQ(map.size(), 3);

    // Leading blanks and lower-case keys are not recognised.
    QByteArray odd = text;
    odd.replace("PRINTER_STATUS=", " PRINTER_STATUS=");
    ASSERT_TRUE(WriteFile(reader.path(), odd));
    EXPECT_TRUE(reader.monitor.getPrinterStatus().isEmpty());
    odd = text;
    odd.replace("PRINTER_STATUS=", "printer_status=");
    ASSERT_TRUE(WriteFile(reader.path(), odd));
    EXPECT_TRUE(reader.monitor.getPrinterStatus().isEmpty());
}

TEST(StatusReader, QuotesDecideTheValue)
{
    ScratchDir dir;
    Reader reader(dir);
    QByteArray text = SampleFile();
    text.replace("PRINTER_VERSION=\"1.23\"", "PRINTER_VERSION=\"1.\"23\"tail");  // own quote cuts
    text.replace("PRINTER_SERIAL_NO=\"A1\"", "PRINTER_SERIAL_NO=\"A1");         // one quote: the rest
    text.replace("MEDIA_SIZE=\"150\"", "MEDIA_SIZE=150");                        // none: empty
    text.replace("MEDIA_CLASS=\"2\"", "MEDIA_CLASS=\"2\"\r");                    // CR after the quote
    ASSERT_TRUE(WriteFile(reader.path(), text));
    StatusMap map = reader.monitor.getPrinterStatus();
    EXPECT_EQ(map["PRINTER_VERSION"], "1.");
    EXPECT_EQ(map["PRINTER_SERIAL_NO"], "A1");
    EXPECT_EQ(map["MEDIA_SIZE"], "");
    EXPECT_EQ(map["MEDIA_CLASS"], "2");
    EXPECT_EQ(map["MEDIA_INITIAL"], "300");
    EXPECT_EQ(map.size(), 9);
}

TEST(StatusReader, LaterTotalCountReplacesEarlierOne)
{
    ScratchDir dir;
    Reader reader(dir);
    QByteArray text = SampleFile();
    text.replace("TOTAL_COUNT=\"000456\"\n\n", "TOTAL_COUNT=\"000456\"\nTOTAL_COUNT=\"789\"\n");
    ASSERT_TRUE(WriteFile(reader.path(), text));
    EXPECT_EQ(reader.monitor.getPrinterStatus()["TOTAL_COUNT"], "789");
}

TEST(StatusReader, ThingsThatAreNotStatusFilesAreNotRead)
{
    ScratchDir dir;
    Reader reader(dir);
    // A FIFO must not block the window: treated as unreadable.
    ASSERT_EQ(mkfifo(QFile::encodeName(reader.path()).constData(), 0666), 0);
    EXPECT_EQ(reader.monitor.getPrinterStatus(), StatusMonitor::offlineMap());
    ASSERT_TRUE(QFile::remove(reader.path()));

    // A link to an endless device.
    ASSERT_EQ(symlink("/dev/zero", QFile::encodeName(reader.path()).constData()), 0);
    EXPECT_EQ(reader.monitor.getPrinterStatus(), StatusMonitor::offlineMap());
    ASSERT_TRUE(QFile::remove(reader.path()));

    // A huge file with 16 line breaks.
    QByteArray huge = SampleFile();
    huge.replace("MODEL=\"RT-50\"", "MODEL=\"" + QByteArray(2 * 1024 * 1024, 'x') + "\"");
    ASSERT_TRUE(WriteFile(reader.path(), huge));
    EXPECT_TRUE(reader.monitor.getPrinterStatus().isEmpty());
}

TEST(StatusReader, TimerEmitsOncePerPeriodAndStopsWithTheMonitor)
{
    ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir.file("RT-50_T.log"), SampleFile()));
    qRegisterMetaType<StatusMap>("QMap<QString,QString>");
    auto *monitor = new StatusMonitor(dir.file("RT-50_T.log"), 20);
    QSignalSpy spy(monitor, SIGNAL(statusNotification(QMap<QString, QString>)));
    EXPECT_EQ(spy.count(), 0);  // nothing at construction
    ASSERT_TRUE(spy.wait(2000));
    StatusMap map = spy.takeFirst().at(0).value<StatusMap>();
    EXPECT_EQ(map["PRINTER_SERIAL_NO"], "A1");
    delete monitor;
}

}  // namespace
