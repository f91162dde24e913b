// Request and status file names, and safe creation of the request files.
#include "statusfiles.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantora_status {

QByteArray RequestFilePath(RequestKind kind, const QByteArray& dir, const QByteArray& serial)
{
    if (serial.contains('/'))
        return {};
    char path[kRequestPathSize];
    int length;
    if (kind == RequestKind::Watch)
        length = snprintf(path, sizeof(path), "%s/%s_%s_UTIL", dir.constData(), "RT-50", serial.constData());
    else
        length = snprintf(path, sizeof(path), "%s/%s_%s_TC_UTIL", dir.constData(), "RT-50", serial.constData());
    if (length < 0 || length >= static_cast<int>(sizeof(path)))
        return {};
    return QByteArray(path, length);
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

QString StatusFilePath(const QString& dir, const QString& serial)
{
    return dir + QStringLiteral("/RT-50_") + serial + QStringLiteral(".log");
}

}  // namespace vantora_status
