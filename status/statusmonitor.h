// Reader of the daemon's status file: polls it on a timer and emits its
// values as a status map.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <functional>

class QTimerEvent;

class StatusMonitor : public QObject
{
    Q_OBJECT

public:
    // Starts polling filePath every interval milliseconds; the first read
    // happens one interval after construction.
    StatusMonitor(QString filePath, int interval, QObject *parent = nullptr);
    ~StatusMonitor() override;

    // One poll: reads the file and, when that attempt fails, once more after
    // 100 ms. Returns the keys found, the offline map for a missing or
    // unreadable file, or an empty map for a file of the wrong shape.
    QMap<QString, QString> getPrinterStatus();

    // One read attempt into map (emptied first). Returns true when the file
    // was read and had the expected 16 lines.
    bool createStatusMap(QMap<QString, QString> &map);

    const QString &filePath() const { return m_filePath; }
    int interval() const { return m_interval; }

    // The map of a printer without a status file: status 99999, message
    // 00006, the other seven keys empty.
    static QMap<QString, QString> offlineMap();

    // Replaces the 100 ms pause between read attempts (tests use it to
    // change the file between two attempts).
    void setRetryPause(std::function<void()> pause) { m_retryPause = std::move(pause); }

signals:
    void statusNotification(QMap<QString, QString>);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // Opens the file read-only, retrying once after the pause; -1 when both fail.
    int openStatusFile();

    int m_interval;
    int m_timerId;
    QString m_filePath;
    std::function<void()> m_retryPause;
};
