// One job's sheets as the application prints them: the timing of the
// sheet printing and the job's record of the sheets an earlier run printed.
// AttachedPrinter::PrintSheet (JobSheets.cpp) sends each sheet.
#pragma once

#include "JobRecord.h"

#include <pappl/pappl.h>

#include <string>

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

