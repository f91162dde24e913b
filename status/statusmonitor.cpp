// Status file reader. The daemon rewrites the file in place without locking,
// so a read may find it empty or half written; such a read is repeated once.
#include "statusmonitor.h"

#include "ExchangeFiles.h"

#include <QFile>
#include <QStringList>
#include <QTimerEvent>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vantora_exchange::kStatusKeys;
constexpr int kKeyCount = vantora_exchange::kStatusKeyCount;

// The file's lines, each ended by a line break, and the empty piece after them.
constexpr int kStatusFilePieces = vantora_exchange::kStatusFileLines + 1;
// A real status file is a few hundred bytes; anything far larger is not one.
constexpr qint64 kMaxStatusFileBytes = 64 * 1024;

void PauseBetweenAttempts()
{
    usleep(100000);
}

// Reads at most limit + 1 bytes from fd into text. Returns false on a read error.
bool ReadBounded(int fd, qint64 limit, QByteArray &text)
{
    char chunk[4096];
    while (text.size() <= limit) {
        ssize_t got = read(fd, chunk, sizeof(chunk));
        if (got < 0)
            return false;
        if (got == 0)
            break;
        text.append(chunk, static_cast<int>(got));
    }
    return true;
}

}  // namespace

// Stores the path and period and starts the poll timer.
StatusMonitor::StatusMonitor(QString filePath, int interval, QObject *parent)
    : QObject(parent), m_interval(interval), m_timerId(0), m_filePath(std::move(filePath)),
      m_retryPause(PauseBetweenAttempts)
{
    m_timerId = startTimer(m_interval);
}

// Stops the poll timer: no status map is emitted afterwards.
StatusMonitor::~StatusMonitor()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
}

// The map of a printer without a readable status file.
QMap<QString, QString> StatusMonitor::offlineMap()
{
    QMap<QString, QString> map;
    for (const char *key : kStatusKeys)
        map.insert(QString::fromLatin1(key), QString());
    map.insert(QString::fromLatin1(kStatusKeys[0]), QString::fromLatin1(vantora_exchange::kOfflineStatusText));
    map.insert(QString::fromLatin1(kStatusKeys[1]), QString::fromLatin1(vantora_exchange::kOfflineMessageText));
    return map;
}

// Opens the status file for reading, once more after a pause when that
// fails; returns the descriptor of a regular file or -1.
int StatusMonitor::openStatusFile()
{
    const QByteArray path = QFile::encodeName(m_filePath);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            m_retryPause();
        // The file lies in a world-writable folder: a FIFO or device put in
        // its place must neither block the window nor be read.
        int fd = open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
            return fd;
        close(fd);
    }
    return -1;
}

// One read attempt; true when the file had its 16 lines (see the header).
bool StatusMonitor::createStatusMap(QMap<QString, QString> &map)
{
    map.clear();
    if (!QFile::exists(m_filePath)) {
        map = offlineMap();
        return false;
    }
    int fd = openStatusFile();
    if (fd < 0) {
        map = offlineMap();
        return false;
    }
    QByteArray bytes;
    bool readOk = ReadBounded(fd, kMaxStatusFileBytes, bytes);
    close(fd);
    if (!readOk || bytes.size() > kMaxStatusFileBytes)
        return false;

    const QStringList pieces = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (pieces.size() != kStatusFilePieces)
        return false;

    int expected = 0;
    for (const QString &piece : pieces) {
        const QString key = QString::fromLatin1(kStatusKeys[expected]);
        if (!piece.startsWith(key + QLatin1Char('='), Qt::CaseSensitive))
            continue;
        // The value lies between the first two double quotes; a line with
        // no quote at all has an empty value.
        const QStringList parts = piece.split(QLatin1Char('"'), Qt::KeepEmptyParts);
        QString value = parts.size() >= 2 ? parts.at(1) : QString();
        if (expected == 0 && value.isEmpty())
            value = QString::fromLatin1(vantora_exchange::kOfflineStatusText);
        map.insert(key, value);
        if (expected < kKeyCount - 1)
            ++expected;
    }
    return true;
}

// One poll: a failed attempt is repeated once after a pause.
QMap<QString, QString> StatusMonitor::getPrinterStatus()
{
    QMap<QString, QString> map;
    if (!createStatusMap(map)) {
        m_retryPause();
        createStatusMap(map);
    }
    return map;
}

// Each tick of the poll timer reads the file and emits its map.
void StatusMonitor::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId)
        return;
    emit statusNotification(getPrinterStatus());
}
