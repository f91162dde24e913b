// Helpers shared by the status window tests.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QMap>
#include <QString>
#include <QTranslator>
#include <memory>
#include <string>

namespace status_test {

// A private folder for exchange files, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const QString &path() const { return path_; }
    QString file(const QString &name) const { return path_ + QLatin1Char('/') + name; }

private:
    QString path_;
};

// Writes a status file as the daemon does; returns false on a write error.
bool WriteFile(const QString &path, const QByteArray &content);
QByteArray ReadFile(const QString &path);

// The daemon's status file for the given values (online form).
QByteArray StatusFileText(const QString &status, const QString &message, const QString &version,
                          const QString &serial, const QString &size, const QString &mediaClass,
                          const QString &initial, const QString &remain, const QString &total);

// Installs the catalogue of a language for as long as the object lives.
class Catalogue {
public:
    explicit Catalogue(const QString &language);
    ~Catalogue();
    bool loaded() const { return loaded_; }

private:
    QTranslator translator_;
    bool loaded_ = false;
};

// A serial number no other test run uses.
QString UniqueSerial(const char *tag);

}  // namespace status_test
