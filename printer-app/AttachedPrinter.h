// One RT-50 as the printer application holds it: the open USB handle while
// the printer is attached, what it reported last (status, media, serial,
// firmware, device ID), and the printing of whole sheets through the
// delivery layer (SheetSender, then its wait until printed) that outlasts
// unplugging, printer errors, wrong media and cancelling.
//
// One process owns a printer: the handle is opened and interface 0 claimed
// by the registry when the printer arrives, and kept until it leaves.
// Transfers are serialised by an I/O lock, held for one exchange at a time;
// while a job holds the printer the registry's polling leaves the printer
// alone, so that no query is ever sent between the pieces of a packet.
//
// Its parts: AttachedPrinter.cpp (the handle, attach and detach, polling),
// JobSheets.cpp (a job's sheets, sent through SheetSender) and
// ShownPrinter.cpp (the PAPPL printer that shows its state to clients).
#pragma once

#include "JobSheets.h"
#include "PrinterReasons.h"
#include "PrinterQueries.h"

#include <libusb.h>
#include <pappl/pappl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// What a printer reported, for the web page and the device callbacks.
struct PrinterFacts {
    std::string serial;
    std::string firmware;
    std::string deviceId;
    bool online = false;
    int64_t status = kStatusFailed;
    MediaState media;
    long long lifeCounter = -1;
};

class AttachedPrinter {
public:
    explicit AttachedPrinter(const std::string& serial);
    ~AttachedPrinter();
    AttachedPrinter(const AttachedPrinter&) = delete;
    AttachedPrinter& operator=(const AttachedPrinter&) = delete;

    const std::string& Serial() const { return m_serial; }

    // The printer arrived: takes over `handle` (open, interface 0 claimed)
    // for `device` (referenced here), with its firmware and device ID.
    // Wakes a job that waits for the printer.
    void Attach(libusb_device* device, libusb_device_handle* handle, const char* firmware, const char* deviceId);

    // The printer `device` left: the handle is released once no transfer
    // uses it. Nothing when this printer holds another device.
    void Detach(libusb_device* device);

    // Releases the handle whatever device it is (the application ends).
    void DetachAll();

    bool Online() const;
    PrinterFacts Facts() const;

    // The PAPPL printer that shows this printer's state; null: none.
    // Setting another one waits until no UsePrinter call uses the old one.
    void SetPrinter(pappl_printer_t* printer);
    // Shows what the last poll found (ready media, supplies, reasons) on
    // the printer just set, instead of at the next poll: a client asking at
    // once (a CUPS queue being made) sees the media loaded, not the default.
    void ShowLastPoll();
    pappl_printer_t* Printer() const;

    // Calls `use` with the PAPPL printer, which stays valid meanwhile (it
    // must not ask for PAPPL's system lock); false when there is none.
    template <typename Use>
    bool UsePrinter(Use use)
    {
        pappl_printer_t* printer = AcquireShownPrinter();
        if (printer == nullptr)
            return false;
        use(printer);
        ReleaseShownPrinter();
        return true;
    }

    // A job starts and ends using the printer (PAPPL's device open and
    // close). BeginJob is false when another job holds it.
    bool BeginJob();
    void EndJob();

    // Prints the job's next sheet: once no other job holds the printer
    // (the job holds it from here to its end), sends the `length` bytes of its command
    // stream (settings, planes, START) through SheetSender and returns once
    // the printer has printed it, keeping the printer's state reasons (and
    // the job's message while media is needed) current meanwhile. A sheet
    // that `sheets` says was printed before is not sent. A printer that
    // leaves is waited for without limit; a sheet it refused or dropped
    // after an error is sent again; errors the user mends are waited out.
    // Returns 0, or ECANCELED when `canceled(data)` became true or the
    // application stops (the printer is reset if it holds part of the
    // sheet; the job's record keeps a sheet it may hold), EIO when transfers
    // keep failing, EINVAL for a stream that is not one sheet of the
    // filter's, or ETIMEDOUT when the printer showed no progress for the
    // timing's limit. `job` (may be null) gets the media-needed message.
    // While the application stops keeping its jobs (AppStop.h), a
    // sheet the stop ends does not return at all: the job stays processing
    // in the saved state and runs again after the next start.
    int PrintSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                   bool (*canceled)(void*), void* cancelData);

    // Whether jobs queued for this printer wait for other media (JobQueue):
    // the printer shows media-needed while they do, as while a sheet waits.
    void SetQueueNeedsMedia(bool needed);

    // Reads status, media and counters when no job's sheets are under way,
    // and shows them on the PAPPL printer. False when the printer did not
    // answer or was not asked.
    bool Poll();

    static void SetTiming(const SheetTiming& timing);
    static SheetTiming Timing();

    // The folder of the jobs' records (root-only; made when missing).
    static void SetRecordsFolder(const std::string& folder);
    static std::string RecordsFolder();

private:
    friend class JobSheets;
    class SheetPort;

    // Whether a wait for the printer ends: the application stops
    // (AppStopping) or `canceled(data)` is true.
    static bool Ends(bool (*canceled)(void*), void* data);

    pappl_printer_t* AcquireShownPrinter();
    void ReleaseShownPrinter();
    int SendSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                  bool (*canceled)(void*), void* cancelData);
    bool HoldForJob(JobSheets* sheets, bool (*canceled)(void*), void* cancelData);
    void LetGoOfJob(JobSheets* sheets);
    bool WaitForHandle(bool (*canceled)(void*), void* cancelData);
    void Publish(int64_t status, const MediaState* media);
    void SetMediaNeeded(bool needed);
    // Shows media-needed on the printer when a sheet or a queued job waits
    // for media, and only then.
    void ShowMediaNeeded();
    void MarkGone(libusb_device_handle* handle);

    const std::string m_serial;
    mutable std::mutex m_state;           // the fields below
    std::condition_variable m_arrived;
    libusb_device* m_device = nullptr;
    libusb_device_handle* m_handle = nullptr;
    bool m_gone = true;                   // the handle no longer reaches the printer
    bool m_inJob = false;
    const JobSheets* m_jobHolder = nullptr;   // the job whose sheets print now
    std::condition_variable m_jobDone;
    PrinterFacts m_facts;
    pappl_printer_t* m_printer = nullptr;
    int m_printerUsers = 0;               // UsePrinter calls under way
    std::condition_variable m_printerFree;
    int m_readyIndex = -2;                // media table index shown as ready
    bool m_suppliesShown = false;         // m_shownSupply is on the PAPPL printer
    MediaState m_shownSupply;
    bool m_mediaNeeded = false;           // a sheet waits for other media
    bool m_queueNeedsMedia = false;       // a queued job waits for other media
    bool m_mediaNeededShown = false;      // the printer shows media-needed
    std::mutex m_io;                      // one exchange at a time
    // Held from reading what the printer should show until PAPPL shows it,
    // so that an older picture never lands after a newer one.
    std::mutex m_showing;
};
