// Request and status file names, and safe creation of the request files.
#include "statusfiles.h"

#include <QFile>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_status {

namespace {

// A file of the serial number `serial` in `dir`; empty when the module
// refuses it. A NUL inside the serial would hide the rest of it.
QByteArray ExchangePath(vantora_exchange::ExchangeFile file, const QByteArray &dir, const QByteArray &serial)
{
    char path[vantora_exchange::kPathSize];
    if (serial.contains('\0') ||
        !vantora_exchange::ExchangeFilePath(file, dir.constData(), serial.constData(), path, sizeof(path)))
        return {};
    return QByteArray(path);
}

}  // namespace

QByteArray RequestFilePath(RequestKind kind, const QByteArray &dir, const QByteArray &serial)
{
    return ExchangePath(kind == RequestKind::Watch ? vantora_exchange::kWatchFile : vantora_exchange::kRefreshFile,
                        dir, serial);
}

bool CreateRequestFile(const QByteArray& path)
{
    if (path.isEmpty())
        return false;
    // No O_TRUNC: the file may be someone else's. O_NONBLOCK keeps a FIFO
    // planted at the path from blocking the window.
    int fd = open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && info.st_uid == geteuid()) {
        if (info.st_size != 0 && ftruncate(fd, 0) != 0) {
            // An unemptied file still asks the daemon all the same.
        }
        fchmod(fd, 0666);
    }
    close(fd);
    return regular;
}

QString StatusFilePath(const QString &dir, const QString &serial)
{
    return QFile::decodeName(ExchangePath(vantora_exchange::kStatusFile, QFile::encodeName(dir), serial.toUtf8()));
}

QString SerialFromDeviceUri(const QString &uri)
{
    const QByteArray bytes = uri.toUtf8();
    const char *serial = vantora_exchange::SerialInDeviceUri(bytes.constData());
    return serial != nullptr ? QString::fromUtf8(serial) : QString();
}

}  // namespace vantora_status
