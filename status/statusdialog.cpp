// Controller of the main dialog: builds the form, lists the printers of this
// model, keeps the daemon's watch file in step with the selection, runs the
// status monitor and answers the Update and About buttons.
#include "statusdialog.h"

#include "printerqueues.h"
#include "statusmonitor.h"
#include "ui_statusdialog.h"

#include <QEvent>
#include <QFile>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

using vantora_status::CreateRequestFile;
using vantora_status::RequestFilePath;
using vantora_status::RequestKind;

// Builds the form, sets its texts, starts offline and lists the printers;
// the first printer listed is watched at once.
StatusDialog::StatusDialog(QWidget *parent, const QString &exchangeDirectory)
    : QDialog(parent), ui(new Ui_StatusDialog), monitor(nullptr), monitorRunning(false), versionDialog(nullptr),
      statusScene(nullptr), exchangeDir(exchangeDirectory)
{
    ui->setupUi(this);
    ui->printerComboBox->installEventFilter(this);

    connect(ui->printerComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(comboBox_indexChanged(int)));
    ui->printerComboBox->setFocus(Qt::OtherFocusReason);
    connect(ui->updateButton, SIGNAL(clicked()), this, SLOT(push_update()));
    connect(ui->versionButton, SIGNAL(clicked()), this, SLOT(push_version()));

    ui->printerlabel->setText(tr("select_printer"));
    ui->statusGroupBox->setTitle(QString());
    ui->mediaGroupBox->setTitle(QString());
    ui->label_StatusGroup->setText(tr("statusGroupBox"));
    ui->serialGroupBox->setTitle(QString());
    ui->totalCountGroupBox->setTitle(QString());
    ui->label_Serial->setText(tr("serialNoGroupBox"));
    ui->label_FWGroup->setText(tr("fwGroupBox"));
    ui->label_TCGroup->setText(tr("tcGroupBox"));
    ui->updateButton->setText(tr("updateButton"));
    ui->versionButton->setText(tr("About"));

    setUIOffline();
    lastTotalCount.clear();
    watchFilePath.clear();

    // Adding the first item selects it, which starts watching that printer.
    for (const auto &queue : vantora_status::ListModelQueues()) {
        printerMap.insert(queue.name, queue.uri);
        ui->printerComboBox->addItem(queue.name);
    }
}

// Stops the monitor and removes the watch file; the refresh and status
// files stay.
StatusDialog::~StatusDialog()
{
    threadQuit();
    delete ui;
    ui = nullptr;
    delete statusScene;
    statusScene = nullptr;
    if (!watchFilePath.isEmpty() && QFile::exists(watchFilePath))
        QFile::remove(watchFilePath);
}

// Creates the watch file of serial in the exchange folder; returns its path,
// or an empty string when it could not be made.
QString StatusDialog::createWatchFile(const QString &serial)
{
    const QByteArray path = RequestFilePath(RequestKind::Watch, QFile::encodeName(exchangeDir), serial.toUtf8());
    if (!CreateRequestFile(path))
        return QString();
    return QFile::decodeName(path);
}

// A new printer is current (-1: the list was emptied): takes its serial
// number from the device URI, moves the watch file and restarts the monitor.
void StatusDialog::comboBox_indexChanged(int i)
{
    const QString oldSerial = serialNumber;
    if (i == -1) {
        threadQuit();
        if (!isRegisterPrinter())
            setUIOffline();
        return;
    }
    threadQuit();

    const QString uri = printerMap.value(ui->printerComboBox->itemText(i));
    // A serial number that cannot name a file has no status file: the
    // daemon writes none, so the printer is shown offline.
    QString statusPath;
    const QString serial = vantora_status::SerialFromDeviceUri(uri);
    if (!serial.isEmpty()) {
        serialNumber = serial;
        statusPath = vantora_status::StatusFilePath(exchangeDir, serialNumber);
    }
    if (oldSerial.isEmpty() && serialNumber.isEmpty()) {
        setUIOffline();
        return;
    }
    if (serialNumber != oldSerial) {
        if (!oldSerial.isEmpty()) {
            lastTotalCount.clear();
            const QByteArray oldPath =
                RequestFilePath(RequestKind::Watch, QFile::encodeName(exchangeDir), oldSerial.toUtf8());
            if (!oldPath.isEmpty() && QFile::exists(QFile::decodeName(oldPath)))
                QFile::remove(QFile::decodeName(oldPath));
        }
        const QString created = createWatchFile(serialNumber);
        if (!created.isEmpty())
            watchFilePath = created;
    }
    if (statusPath.isEmpty())
        setUIOffline();
    else
        threadStart(statusPath);
}

// Starts polling the status file every 500 ms on the GUI thread.
void StatusDialog::threadStart(const QString &statusFilePath)
{
    monitor = new StatusMonitor(statusFilePath, 500, this);
    connect(monitor, SIGNAL(statusNotification(QMap<QString, QString>)), this,
            SLOT(upDateStatus(QMap<QString, QString>)));
    monitorRunning = true;
}

// Stops and deletes the current monitor, if one runs.
void StatusDialog::threadQuit()
{
    if (!monitorRunning)
        return;
    monitorRunning = false;
    delete monitor;
    monitor = nullptr;
}

// Update: asks the daemon for a fresh total count of the watched printer.
void StatusDialog::push_update()
{
    if (serialNumber.isEmpty())
        return;
    CreateRequestFile(RequestFilePath(RequestKind::Refresh, QFile::encodeName(exchangeDir), serialNumber.toUtf8()));
}

// About: shows the version dialog, centred on the screen the first time.
void StatusDialog::push_version()
{
    static int flag = 0;
    if (flag == 0) {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        versionDialog.setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, versionDialog.size(), screen));
        flag = 1;
    }
    versionDialog.show();
}

// True when CUPS has a queue of this model.
bool StatusDialog::isRegisterPrinter()
{
    return vantora_status::HasModelQueue();
}

// A press or key on the printer list first rebuilds it from CUPS (one item
// per queue name); the event then goes on to the list as usual.
bool StatusDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (ui != nullptr && watched == ui->printerComboBox &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
        const auto queues = vantora_status::ListModelQueues();
        ui->printerComboBox->clear();
        printerMap.clear();
        for (const auto &queue : queues) {
            if (printerMap.contains(queue.name)) {
                // A further instance of a queue already listed.
                printerMap[queue.name] = queue.uri;
                for (int item = 0; item < ui->printerComboBox->count(); ++item) {
                    if (ui->printerComboBox->itemText(item) == queue.name)
                        ui->printerComboBox->setItemText(item, queue.name);
                }
            } else {
                printerMap[queue.name] = queue.uri;
                ui->printerComboBox->addItem(queue.name);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
