// vantora_rt50_status: the desktop status window of the VANTORA RT-50.
#include "quitsignals.h"
#include "startup.h"
#include "statusdialog.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTranslator>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(statusmonitor);
    // A signal ends the window through the event loop, even one that
    // arrives before the window is up.
    QuitSignals::holdUntilInstalled();
    if (checkDoubleStartApp())
        return -1;
    QThread::msleep(1000);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("RT-50 Information"));
    QTranslator translator;
    if (!translator.load(TranslationForLocale(QLocale::system().bcp47Name()))) {
        // The window then shows the catalogue keys; it still works.
    }
    QApplication::installTranslator(&translator);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/printer_icon.png")));
    QScreen *screen = QGuiApplication::primaryScreen();

    // Ended by a signal, the window quits as when it is closed, so that the
    // dialog removes its watch file. Installed before the dialog makes it.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &app, &QCoreApplication::quit);

    int result;
    {
        StatusDialog dialog;
        dialog.setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, dialog.size(), screen->availableGeometry()));
        dialog.show();
        result = QApplication::exec();
    }
    return result;
}
