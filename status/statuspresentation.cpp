// Presentation of a status map in the main dialog: texts, picture, bar.
#include "statusdialog.h"

#include "ui_statusdialog.h"

#include <QGraphicsScene>
#include <QPixmap>
#include <climits>

namespace {

struct StatusDisplay {
    int code;
    const char *textKey;
    const char *picture;
};

// Printer status code to text key and picture; unlisted codes are system errors.
const StatusDisplay kStatusTable[] = {
    {0, QT_TRANSLATE_NOOP("StatusDialog", "st_00000"), ":/images/PrtStsIdle.bmp"},
    {1, QT_TRANSLATE_NOOP("StatusDialog", "st_00001"), ":/images/PrtStsPrinting.bmp"},
    {500, QT_TRANSLATE_NOOP("StatusDialog", "st_00500"), ":/images/PrtStsCooling.bmp"},
    {900, QT_TRANSLATE_NOOP("StatusDialog", "st_00900"), ":/images/PrtStsIdle.bmp"},
    {1000, QT_TRANSLATE_NOOP("StatusDialog", "st_01000"), ":/images/PrtStsCoverOpen.bmp"},
    {1010, QT_TRANSLATE_NOOP("StatusDialog", "st_01010"), ":/images/PrtStsNoScrapBox.bmp"},
    {1100, QT_TRANSLATE_NOOP("StatusDialog", "st_01100"), ":/images/PrtStsPaperEnd.bmp"},
    {1200, QT_TRANSLATE_NOOP("StatusDialog", "st_01200"), ":/images/PrtStsRibbonEnd.bmp"},
    {1300, QT_TRANSLATE_NOOP("StatusDialog", "st_01300"), ":/images/PrtStsPaperJam.bmp"},
    {1400, QT_TRANSLATE_NOOP("StatusDialog", "st_01400"), ":/images/PrtStsRibbonErr.bmp"},
    {1500, QT_TRANSLATE_NOOP("StatusDialog", "st_01500"), ":/images/PrtStsPaperErr.bmp"},
    {1600, QT_TRANSLATE_NOOP("StatusDialog", "st_01600"), ":/images/PrtStsSystemErr01.bmp"},
    {2000, QT_TRANSLATE_NOOP("StatusDialog", "st_02000"), ":/images/PrtStsSystemErr01.bmp"},
    {2010, QT_TRANSLATE_NOOP("StatusDialog", "st_03000"), ":/images/PrtStsSystemErr01.bmp"},
    {2100, QT_TRANSLATE_NOOP("StatusDialog", "st_02100"), ":/images/PrtStsSystemErr01.bmp"},
    {2200, QT_TRANSLATE_NOOP("StatusDialog", "st_02200"), ":/images/PrtStsSystemErr01.bmp"},
    {2300, QT_TRANSLATE_NOOP("StatusDialog", "st_02300"), ":/images/PrtStsSystemErr01.bmp"},
    {2400, QT_TRANSLATE_NOOP("StatusDialog", "st_02400"), ":/images/PrtStsSystemErr01.bmp"},
    {2500, QT_TRANSLATE_NOOP("StatusDialog", "st_02500"), ":/images/PrtStsSystemErr01.bmp"},
    {2600, QT_TRANSLATE_NOOP("StatusDialog", "st_02600"), ":/images/PrtStsSystemErr01.bmp"},
    {2610, QT_TRANSLATE_NOOP("StatusDialog", "st_02610"), ":/images/PrtStsSystemErr01.bmp"},
    {2700, QT_TRANSLATE_NOOP("StatusDialog", "st_02700"), ":/images/PrtStsSystemErr01.bmp"},
    {2800, QT_TRANSLATE_NOOP("StatusDialog", "st_02800"), ":/images/PrtStsSystemErr01.bmp"},
    {3000, QT_TRANSLATE_NOOP("StatusDialog", "st_03000"), ":/images/PrtStsSystemErr01.bmp"},
    {99999, QT_TRANSLATE_NOOP("StatusDialog", "st_99999"), ":/images/PrtStsOffline.bmp"},
};
const StatusDisplay kUnlistedStatus = {-1, QT_TRANSLATE_NOOP("StatusDialog", "st_03000"), ":/images/PrtStsSystemErr01.bmp"};

const StatusDisplay &LookUpStatus(int code)
{
    for (const auto &entry : kStatusTable) {
        if (entry.code == code)
            return entry;
    }
    return kUnlistedStatus;
}

struct MessageEntry {
    int code;
    const char *key;
};

// Message code to advice key; unlisted codes get the last one's advice.
const MessageEntry kMessageTable[] = {
    {1, QT_TRANSLATE_NOOP("StatusDialog", "ms_00001")},   {2, QT_TRANSLATE_NOOP("StatusDialog", "ms_00002")},
    {3, QT_TRANSLATE_NOOP("StatusDialog", "ms_00003")},   {4, QT_TRANSLATE_NOOP("StatusDialog", "ms_00004")},
    {5, QT_TRANSLATE_NOOP("StatusDialog", "ms_00005")},   {6, QT_TRANSLATE_NOOP("StatusDialog", "ms_00006")},
    {100, QT_TRANSLATE_NOOP("StatusDialog", "ms_00100")}, {101, QT_TRANSLATE_NOOP("StatusDialog", "ms_00101")},
    {102, QT_TRANSLATE_NOOP("StatusDialog", "ms_00102")}, {103, QT_TRANSLATE_NOOP("StatusDialog", "ms_00103")},
    {104, QT_TRANSLATE_NOOP("StatusDialog", "ms_00104")}, {105, QT_TRANSLATE_NOOP("StatusDialog", "ms_00105")},
    {106, QT_TRANSLATE_NOOP("StatusDialog", "ms_00106")}, {107, QT_TRANSLATE_NOOP("StatusDialog", "ms_00107")},
    {108, QT_TRANSLATE_NOOP("StatusDialog", "ms_00108")}, {200, QT_TRANSLATE_NOOP("StatusDialog", "ms_00200")},
    {201, QT_TRANSLATE_NOOP("StatusDialog", "ms_00201")}, {202, QT_TRANSLATE_NOOP("StatusDialog", "ms_00202")},
    {203, QT_TRANSLATE_NOOP("StatusDialog", "ms_00203")}, {204, QT_TRANSLATE_NOOP("StatusDialog", "ms_00204")},
    {205, QT_TRANSLATE_NOOP("StatusDialog", "ms_00205")}, {206, QT_TRANSLATE_NOOP("StatusDialog", "ms_00206")},
    {207, QT_TRANSLATE_NOOP("StatusDialog", "ms_00207")}, {208, QT_TRANSLATE_NOOP("StatusDialog", "ms_00208")},
    {209, QT_TRANSLATE_NOOP("StatusDialog", "ms_00209")}, {210, QT_TRANSLATE_NOOP("StatusDialog", "ms_00210")},
};

// Codes at which a media size the window does not know means wrong media.
bool ChecksMediaType(int code)
{
    switch (code) {
    case 0: case 1: case 500: case 900: case 1000: case 1010: case 1100: case 1300: case 1400: case 1500:
        return true;
    default:
        return false;
    }
}

// Remaining share in percent, single-precision and truncated toward zero.
int RemainingPercent(int remain, int initial)
{
    float percent = static_cast<float>(remain) / static_cast<float>(initial) * 100.0f;
    if (percent >= static_cast<float>(INT_MAX))
        return INT_MAX;
    if (percent <= static_cast<float>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(percent);
}

}  // namespace

// Media group heading for a media class value: "<title>[ <class> ]", or
// "<title>[ --- ]" for an unknown class.
QString StatusDialog::getMediaGroupString(QString value)
{
    if (!value.isEmpty()) {
        switch (value.toInt(nullptr, 10)) {
        case 1:
            return tr("mediaGroupTitle") + QStringLiteral("[ ") + tr("class_0001") + QStringLiteral(" ]");
        case 2:
            return tr("mediaGroupTitle") + QStringLiteral("[ ") + tr("class_0002") + QStringLiteral(" ]");
        case 3:
            return tr("mediaGroupTitle") + QStringLiteral("[ ") + tr("class_0003") + QStringLiteral(" ]");
        default:
            break;
        }
    }
    return tr("mediaGroupTitle") + QStringLiteral("[ --- ]");
}

// Media size text for a size value; empty when the size is unknown.
QString StatusDialog::getMediaSizeString(QString value)
{
    if (value.isEmpty())
        return QString();
    switch (value.toInt(nullptr, 10)) {
    case 150:
        return tr("size_00150");
    case 161:
        return tr("size_00161");
    default:
        return QString();
    }
}

// Advice text for a message code; empty for an empty value.
QString StatusDialog::getStatusMessageString(QString value)
{
    if (value.isEmpty())
        return QString();
    const int code = value.toInt(nullptr, 10);
    for (const auto &entry : kMessageTable) {
        if (entry.code == code)
            return tr(entry.key);
    }
    return tr("ms_00210");
}

// Presents one status map; a map without a status, or status 99999, shows
// the offline presentation.
void StatusDialog::upDateStatus(QMap<QString, QString> map)
{
    QString group = getMediaGroupString(map.value(QStringLiteral("MEDIA_CLASS")));
    QString size = getMediaSizeString(map.value(QStringLiteral("MEDIA_SIZE")));
    const bool sizeUnknown = size.isEmpty();
    if (sizeUnknown) {
        size = QStringLiteral("---");
        group = tr("mediaGroupTitle") + QStringLiteral("[ --- ]");
    }
    QString message = getStatusMessageString(map.value(QStringLiteral("PRINTER_MESSAGE")));
    QString serial = map.value(QStringLiteral("PRINTER_SERIAL_NO"));
    if (serial.isEmpty())
        serial = QStringLiteral("---");

    const QString statusText = map.value(QStringLiteral("PRINTER_STATUS"));
    int code = 99999;
    bool remainAsZero = true;
    if (!statusText.isEmpty()) {
        code = statusText.toInt(nullptr, 10);
        remainAsZero = code == 99999 || code == 1200;
    }
    if (sizeUnknown && ChecksMediaType(code)) {
        message = message + QStringLiteral("\n") + tr("ms_00108");
        remainAsZero = true;
    }
    const StatusDisplay &entry = LookUpStatus(code);
    const QString status = tr(entry.textKey);
    const QString picture = QString::fromLatin1(entry.picture);

    const QString initialText = map.value(QStringLiteral("MEDIA_INITIAL"));
    const QString remainText = map.value(QStringLiteral("MEDIA_REMAIN"));
    QString sheets = QStringLiteral("--- / ---  ") + tr("sheets");
    int percent = 0;
    if (!initialText.isEmpty() && !remainText.isEmpty()) {
        const int initial = initialText.toInt(nullptr, 10);
        int remain = remainText.toInt(nullptr, 10);
        if (remainAsZero)
            remain = 0;
        if (initial != 0) {
            sheets = QString::number(remain) + QStringLiteral(" / ") + QString::number(initial) +
                     QStringLiteral("  ") + tr("sheets");
            percent = RemainingPercent(remain, initial);
        }
    }

    QString total = map.value(QStringLiteral("TOTAL_COUNT"));
    if (total.isEmpty())
        total = QStringLiteral("---");
    QString firmware = map.value(QStringLiteral("PRINTER_VERSION"));
    if (firmware.isEmpty())
        firmware = QStringLiteral("---");

    if (code == 99999) {
        setUIOffline();
        return;
    }
    if (total != QLatin1String("---")) {
        bool ok = false;
        const int count = total.toInt(&ok, 10);
        total = ok ? QString::number(count) : QStringLiteral("---");
    }
    setUiParam(group, size, sheets, percent, picture, status, message, serial, total, firmware);
}

// Writes prepared values into the form; a total count once shown stays
// until the selection moves to another printer.
void StatusDialog::setUiParam(QString group, QString size, QString sheets, int percent, QString picture,
                              QString status, QString message, QString serial, QString total, QString firmware)
{
    if (total != QLatin1String("---"))
        lastTotalCount = total;
    ui->label_MediaGroup->setText(group);
    ui->label_MediaSize->setText(size);
    ui->label_MediaSizeDetails->setText(sheets);
    ui->progressBar->setValue(percent);
    ui->label_Status->setText(status);
    ui->label_StatusMessage->setText(message);
    showPicture(picture);
    ui->label_SerialValue->setText(serial);
    ui->label_FWValue->setText(firmware);
    ui->label_TCValue->setText(lastTotalCount.isEmpty() ? total : lastTotalCount);
    if (!isRegisterPrinter())
        ui->label_TCValue->setText(QStringLiteral("---"));
}

// The fixed presentation of a printer that cannot be reached.
void StatusDialog::setUIOffline()
{
    ui->label_MediaGroup->setText(tr("mediaGroupTitle") + QStringLiteral("[ --- ]"));
    ui->label_MediaSize->setText(QStringLiteral("---"));
    ui->label_MediaSizeDetails->setText(QStringLiteral("--- / ---  ") + tr("sheets"));
    ui->progressBar->setValue(0);
    ui->label_Status->setText(tr("st_99999"));
    ui->label_StatusMessage->setText(tr("ms_00006"));
    showPicture(QStringLiteral(":/images/PrtStsOffline.bmp"));
    ui->label_SerialValue->setText(QStringLiteral("---"));
    ui->label_FWValue->setText(QStringLiteral("---"));
    ui->label_TCValue->setText(QStringLiteral("---"));
}

// Replaces the status picture's scene with one showing the resource at 80 x 80.
void StatusDialog::showPicture(const QString &resourcePath)
{
    QPixmap pixmap(resourcePath);
    delete statusScene;
    statusScene = nullptr;
    statusScene = new QGraphicsScene();
    statusScene->addPixmap(pixmap.scaled(80, 80, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    ui->graphicsView->setScene(statusScene);
}
