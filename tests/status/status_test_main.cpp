// Test main of the status window's programs: a QApplication on the
// offscreen platform, the resource tree, and no CUPS scheduler unless a test
// starts its own.
#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(statusmonitor);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A socket nobody listens on: cupsGetDests finds nothing.
    setenv("CUPS_SERVER", "/nonexistent/vantora-test/cups.sock", 1);
    // Qt's runtime folder goes to a private place, not /tmp/runtime-<user>.
    char runtime[] = "/tmp/vantora-status-run-XXXXXX";
    if (mkdtemp(runtime) == nullptr)
        return 1;
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    testing::InitGoogleTest(&argc, argv);
    int result;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    QDir(QString::fromLocal8Bit(runtime)).removeRecursively();
    return result;
}
