// Test main of the controller tests: a private CUPS scheduler with queues of
// this model and of others, shared by every test of the program.
#include "controller_fixture.h"

#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <sys/stat.h>
#include <gtest/gtest.h>

namespace status_test {
vantora_test::PrivateCupsd *gCupsd = nullptr;
QString gHome;
}  // namespace status_test

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(statusmonitor);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Saved instances come from $HOME/.cups/lpoptions; libcups reads HOME
    // once, so it is set before the first CUPS call.
    char home[] = "/tmp/vantora-status-home-XXXXXX";
    if (mkdtemp(home) == nullptr)
        return 1;
    status_test::gHome = QString::fromLocal8Bit(home);
    setenv("HOME", home, 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    chmod(home, 0700);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);

    int result = 1;
    {
        vantora_test::PrivateCupsd cupsd;
        if (!cupsd.Start()) {
            fprintf(stderr, "private cupsd did not start: %s\n", cupsd.error().c_str());
        } else {
            status_test::gCupsd = &cupsd;
            result = RUN_ALL_TESTS();
            status_test::gCupsd = nullptr;
        }
    }
    QDir(status_test::gHome).removeRecursively();
    return result;
}
