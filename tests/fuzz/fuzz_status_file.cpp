// The window's reader of the daemon's status file over arbitrary file
// contents: any map it yields has only the known keys.
#include "statusmonitor.h"

#include <QFile>
#include <QStringList>

#include <cstdint>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One scratch file per run, removed when the fuzzer exits.
    static const struct Scratch {
        QString path = QString("/tmp/fuzz_status_file.%1.log").arg(getpid());
        ~Scratch() { QFile::remove(path); }
    } scratch;
    const QString& path = scratch.path;
    static StatusMonitor monitor(path, 1000000);
    static const QStringList kKeys = {
        "MODEL", "PRINTER_STATUS", "PRINTER_MESSAGE", "PRINTER_VERSION", "PRINTER_SERIAL_NO",
        "MEDIA_SIZE", "MEDIA_CLASS", "MEDIA_INITIAL", "MEDIA_REMAIN", "TOTAL_COUNT",
    };
    monitor.setRetryPause([] {});

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();

    QMap<QString, QString> map;
    monitor.createStatusMap(map);
    const QMap<QString, QString> status = monitor.getPrinterStatus();
    for (const QString& key : status.keys()) {
        if (!kKeys.contains(key))
            __builtin_trap();
    }
    return 0;
}
