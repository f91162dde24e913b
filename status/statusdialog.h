// The status window's main dialog: printer list, request files, status
// monitor and the presentation of the printer's status.
#pragma once

#include "statusfiles.h"
#include "versiondialog.h"

#include <QDialog>
#include <QMap>
#include <QString>

class Ui_StatusDialog;
class StatusMonitor;
class QGraphicsScene;

class StatusDialog : public QDialog
{
    Q_OBJECT

public:
    // exchangeDir is the folder of the status and request files; the
    // program uses "/tmp".
    explicit StatusDialog(QWidget *parent = nullptr,
                          const QString &exchangeDir = QString::fromLatin1(vantora_status::kExchangeDir));
    ~StatusDialog() override;

    // True when CUPS has at least one queue of this printer model.
    bool isRegisterPrinter();

    // Read-only views of the controller state, for tests and diagnostics.
    const QString &currentSerialNumber() const { return serialNumber; }
    const QString &currentWatchFilePath() const { return watchFilePath; }
    const QString &currentLastTotalCount() const { return lastTotalCount; }
    const QMap<QString, QString> &printers() const { return printerMap; }
    bool isMonitorRunning() const { return monitorRunning; }
    StatusMonitor *currentMonitor() const { return monitor; }
    VersionDialog &aboutDialog() { return versionDialog; }

public slots:
    void upDateStatus(QMap<QString, QString>);
    void comboBox_indexChanged(int i);
    void push_update();
    void push_version();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void threadStart(const QString &statusFilePath);
    void threadQuit();
    // Creates the watch file of serial; returns its path, empty on failure.
    QString createWatchFile(const QString &serial);

    // Presentation of a status map.
    void setUiParam(QString group, QString size, QString sheets, int percent, QString picture,
                    QString status, QString message, QString serial, QString total, QString firmware);
    void setUIOffline();
    void showPicture(const QString &resourcePath);
    QString getMediaGroupString(QString value);
    QString getMediaSizeString(QString value);
    QString getStatusMessageString(QString value);

    Ui_StatusDialog *ui;
    StatusMonitor *monitor;
    bool monitorRunning;
    QMap<QString, QString> printerMap;
    QString serialNumber;
    VersionDialog versionDialog;
    QString lastTotalCount;
    QString watchFilePath;
    QGraphicsScene *statusScene;
    QString exchangeDir;
};
