// Ends the window on SIGTERM, SIGINT and SIGHUP the way closing it does:
// the event loop returns and the dialog's destructor removes the watch file,
// so that the daemon stops polling the printer for a window that is gone.
#pragma once

#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers (one object at a time); they stay until the
    // object is destroyed, which restores the default actions.
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // Holds the signals back until the handlers are installed, so that a
    // signal sent while the window starts ends it as a closed one ends.
    static void holdUntilInstalled();

    // True when the handlers are in place.
    bool installed() const { return m_notifier != nullptr; }

signals:
    // One of the signals arrived; emitted from the event loop.
    void received(int signalNumber);

private slots:
    void readSignals();

private:
    int m_sockets[2];
    QSocketNotifier *m_notifier;
};
