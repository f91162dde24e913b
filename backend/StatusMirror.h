// The printer's status file while the backend holds the printer for a job.
//
// The USB monitor daemon stays off a printer whose backend holds it (the
// pause file), so during a job it cannot keep the status file the window
// shows. The backend keeps it instead, while the window watches the printer
// (its watch file exists), from what the job learns anyway: the status of
// each query the job makes between packets and the life counter it reads to
// judge its sheets. Besides those it asks only a little, and only while
// watched: the model, firmware and media once per connection, the prints
// remaining again when the life counter rose, and the media again when the
// job finds another one loaded or an error the user mends (door, paper,
// ribbon, ...) is over, since the media may have been changed meanwhile.
// Until the job has read the life counter, the count is the one the file
// showed. The file is written (StatusFileStore.h) whenever what it shows
// changes, and when the watch begins.
//
// Every call is made between two packets of the job, where the printer
// answers queries; nothing here talks to the printer inside one.
#pragma once

#include "ExchangeFiles.h"

#include <libusb.h>

#include <cstdint>
#include <string>

namespace vantora_backend {

class StatusMirror {
public:
    // `serial`: the job's printer (valid); `folder`: the exchange folder.
    StatusMirror(std::string serial, std::string folder);

    // The printer was (re)connected: its model, firmware and media are asked
    // again at the next status.
    void NewPlug();

    // A status the printer answered on `handle` (never kStatusFailed).
    // Writes the status file when watched and something shown changed.
    void Status(libusb_device_handle* handle, int64_t status);

    // A life counter the job read on `handle` (-1: not answered). A new
    // one is written at once while watched, with the prints remaining.
    void Counter(libusb_device_handle* handle, long counter);

    // The loaded media's code the job read (-1: not answered).
    void Media(int media);

    // True while the window watches the printer (its watch file exists).
    bool Watched() const;

    // Status files written so far, and the errno value of the last write
    // that failed (0 when none did).
    int writes() const { return m_writes; }
    int lastError() const { return m_lastError; }

private:
    bool TakeCounter(long counter);   // true when it is a new one
    void AskIdentity(libusb_device_handle* handle);
    void AskMedia(libusb_device_handle* handle);
    void AskRemain(libusb_device_handle* handle);
    void Write();

    std::string m_serial;
    std::string m_statusPath;
    std::string m_watchPath;
    vantora_exchange::StatusFileValues m_values {};
    long m_counter = -1;
    bool m_watched = false;
    bool m_needIdentity = true;
    bool m_needMedia = true;
    bool m_needRemain = false;
    bool m_inUserError = false;
    std::string m_written;     // the text last written; empty: none since the watch began
    int m_writes = 0;
    int m_lastError = 0;
};

}  // namespace vantora_backend
