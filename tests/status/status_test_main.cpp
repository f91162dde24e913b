// Test main of the status window's programs: a QApplication on the
// offscreen platform, the resource tree, and no CUPS scheduler unless a test
// starts its own.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(statusmonitor);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A socket nobody listens on: cupsGetDests finds nothing.
    setenv("CUPS_SERVER", "/nonexistent/vantora-test/cups.sock", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
