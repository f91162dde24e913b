// vantora_screen_grab: saves the whole screen of $DISPLAY as a PNG, for the
// main job's picture of the status window under Xvfb.
//
//   vantora_screen_grab OUTPUT.png [DELAY_MS]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vantora_screen_grab OUTPUT.png [DELAY_MS]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    if (argc == 3)
        QThread::msleep(static_cast<unsigned long>(std::strtoul(argv[2], nullptr, 10)));
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "vantora_screen_grab: cannot grab the screen into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
