// Helpers shared by the status window tests.
#include "status_test_support.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <cstdlib>
#include <unistd.h>

namespace status_test {

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/vantora-status-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    path_ = made != nullptr ? QString::fromLocal8Bit(made) : QString();
}

ScratchDir::~ScratchDir()
{
    if (!path_.isEmpty())
        QDir(path_).removeRecursively();
}

bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray StatusFileText(const QString &status, const QString &message, const QString &version,
                          const QString &serial, const QString &size, const QString &mediaClass,
                          const QString &initial, const QString &remain, const QString &total)
{
    QString text;
    text += QStringLiteral("#PRINTER_INFORMATION\nMODEL=\"RT-50\"\n");
    text += QStringLiteral("PRINTER_STATUS=\"%1\"\nPRINTER_MESSAGE=\"%2\"\n").arg(status, message);
    text += QStringLiteral("PRINTER_VERSION=\"%1\"\nPRINTER_SERIAL_NO=\"%2\"\n\n").arg(version, serial);
    text += QStringLiteral("#MEDIA_INFORMATION\nMEDIA_SIZE=\"%1\"\nMEDIA_CLASS=\"%2\"\n").arg(size, mediaClass);
    text += QStringLiteral("MEDIA_INITIAL=\"%1\"\nMEDIA_REMAIN=\"%2\"\n\n").arg(initial, remain);
    text += QStringLiteral("#COUNTER_INFORMATION\nTOTAL_COUNT=\"%1\"\n\n").arg(total);
    return text.toUtf8();
}

Catalogue::Catalogue(const QString &language)
{
    loaded_ = translator_.load(QStringLiteral(":/translations/localize_") + language);
    QCoreApplication::installTranslator(&translator_);
}

Catalogue::~Catalogue()
{
    QCoreApplication::removeTranslator(&translator_);
}

QString UniqueSerial(const char *tag)
{
    return QStringLiteral("T%1%2%3")
        .arg(QLatin1String(tag))
        .arg(getpid())
        .arg(QUuid::createUuid().toString(QUuid::Id128).left(8).toUpper());
}

}  // namespace status_test
