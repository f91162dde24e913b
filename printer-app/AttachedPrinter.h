// One RT-50 as the printer application holds it: the open USB handle while
// the printer is attached, what it reported last (status, media, serial,
// firmware, device ID), and the printing of whole sheets through the
// delivery layer (SheetSender, then its wait until printed) that outlasts
// unplugging, printer errors, wrong media and cancelling.
//
// One process owns a printer: the handle is opened and interface 0 claimed
// by the registry when the printer arrives, and kept until it leaves.
// Transfers are serialised by an I/O lock, held for one exchange at a time;
// while a job holds the link the registry's polling leaves the printer
// alone, so that no query is ever sent between the pieces of a packet.
#pragma once

#include "JobRecord.h"
#include "PapplState.h"
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

// Timing of the sheet printing; tests shorten it.
struct SheetTiming {
    unsigned int pollMs = 200;        // status polls while a sheet is sent, prints or the printer is in error
    unsigned int writeTimeoutMs = 5000;  // each bulk OUT transfer of a sheet
    unsigned int printLimitMs = 600000;  // no progress outside an error the user mends this long: the sheet fails
};

class AttachedPrinter;

// One job's sheets: which of them an earlier run of the job printed (its
// record in the application's records folder), so that a job run again
// prints only the missing ones. From its first sheet to its end the job
// holds its printer: no other job's sheet goes between its sheets.
class JobSheets {
public:
    // `job` may be null: then nothing is recorded.
    explicit JobSheets(pappl_job_t* job);
    ~JobSheets();
    JobSheets(const JobSheets&) = delete;
    JobSheets& operator=(const JobSheets&) = delete;

    // The job ended for good (printed, or failed for its own sake): its record goes.
    void Finished();

    // The last sheet was printed by an earlier run of the job: not sent.
    bool LastSkipped() const { return m_sheet > 0 && m_sheet <= m_skip; }

    // The name of a job's record, the same in every run of the job: its id
    // with a uuid made from the system's uuid, the printer and the job's
    // id and creation time (PAPPL gives a job restored from its state a
    // job-uuid of its own). Empty when `job` is null.
    static std::string RecordUuid(pappl_job_t* job);

private:
    friend class AttachedPrinter;
    JobRecords m_records;
    AttachedPrinter* m_holding = nullptr;   // the printer this job holds
    bool m_recorded = false;
    // The job's record once the sheet being printed is added to what the
    // sheets before it delivered; Keep writes it.
    JobRecord Combined(const JobRecord& sheet) const;
    void Keep(const JobRecord& sheet);

    JobRecord m_before;      // what an earlier run delivered
    bool m_resumed = false;  // m_before has been settled with the printer
    int m_skip = 0;          // sheets printed before, not printed again
    int m_sheet = 0;         // sheets of the job seen so far
    JobRecord m_done;        // what the sheets before the current one delivered
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
    // uses it. Nothing when the link holds another device.
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
    // While the application stops keeping its jobs (StopKeepingJobs), a
    // sheet the stop ends does not return at all: the job stays processing
    // in the saved state and runs again after the next start.
    int PrintSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                   bool (*canceled)(void*), void* cancelData);

    // Raw bytes for PAPPL's device write: the count the printer took, or -1.
    ssize_t WriteRaw(const void* data, size_t length);

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

    // The application stops: every sheet being printed or waited for ends
    // at once (PrintSheet returns), and none starts any more.
    static void StopAll();
    static bool Stopping();

    // The same, but the jobs are kept for the next start: a sheet the stop
    // ends leaves the printer clean and its job's record current, and its
    // job waits there (never finished, so never aborted) until the process
    // ends. KeptJobs counts the jobs waiting so.
    static void StopKeepingJobs();
    static int KeptJobs();

private:
    friend class JobSheets;
    class SheetPort;

    pappl_printer_t* AcquireShownPrinter();
    void ReleaseShownPrinter();
    int SendSheet(const unsigned char* data, size_t length, JobSheets* sheets, pappl_job_t* job,
                  bool (*canceled)(void*), void* cancelData);
    bool HoldForJob(JobSheets* sheets, bool (*canceled)(void*), void* cancelData);
    void LetGoOfJob(JobSheets* sheets);
    bool WaitForHandle(bool (*canceled)(void*), void* cancelData);
    void SoftReset(libusb_device_handle* handle);
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
    bool m_needsReset = false;            // part of a packet went out unanswered
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
