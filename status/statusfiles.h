// Files the window shares with the USB monitor daemon: the status file it
// reads and the request files (watch and refresh) it creates. Their names
// come from the exchange module; these are its Qt edges.
#pragma once

#include "ExchangeFiles.h"

#include <QByteArray>
#include <QString>

namespace vantora_status {

// Folder of the exchange files in the installed program.
inline constexpr const char *kExchangeDir = vantora_exchange::kExchangeDir;

enum class RequestKind {
    Watch,    // <dir>/RT-50_<serial>_UTIL: asks the daemon to poll the printer
    Refresh,  // <dir>/RT-50_<serial>_TC_UTIL: asks for a fresh total count
};

// Path of a request file for a serial number (UTF-8). Empty when the serial
// number cannot name a file or the path would not fit the 128-byte buffer,
// so that no file is ever made under a cut or foreign name.
QByteArray RequestFilePath(RequestKind kind, const QByteArray &dir, const QByteArray &serial);

// Creates an empty request file without following a symbolic link planted at
// the path. An existing regular file of ours is emptied and given mode 0666;
// one of another user is left exactly as it is. Returns true when a regular
// file now exists at the path.
bool CreateRequestFile(const QByteArray &path);

// Status file of a serial number: <dir>/RT-50_<serial>.log. Empty under the
// same rules as RequestFilePath: the daemon writes no file for such a serial.
QString StatusFilePath(const QString &dir, const QString &serial);

// The serial number of a device URI: the text after its first "serial=".
// Empty when there is none or nothing follows it.
QString SerialFromDeviceUri(const QString &uri);

}  // namespace vantora_status
