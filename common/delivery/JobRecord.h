// What a job has delivered so far, kept in a root-only folder of the
// package so that a job run again (a retry, a scheduler restarted, a
// printer back after the grace time, a printer application restarted with
// its queued jobs) prints only the sheets that are missing.
//
// One file per job, named by its job id and job-uuid (without a valid uuid
// a job gets no record: ids start again with a new scheduler), written
// whole and renamed into place. One file per printer holds the hand-off
// mark: the life counter at which the sheets a job left printing (it ended
// once they were taken) are done, so that the next job judges its own.
// Files older than a week are cleaned out.
#pragma once

#include <string>

struct JobRecord {
    std::string serial;   // the printer that took the sheets
    int printed = 0;      // the job's first sheets, known printed
    int taken = 0;        // sheets the printer took (or may hold), from the first; at least `printed`
    long mark = -1;       // the life counter once all `taken` are printed; -1 unknown
    long scheduler = 0;   // the job ended, run by this scheduler (its process id); 0: it has not
    int counted = 0;      // the job's first sheets already added to their printers' counts
};

class JobRecords {
public:
    // `folder` is made (mode 0700) when missing; one that is not a folder
    // of this user's with no access for others keeps no records.
    explicit JobRecords(std::string folder);

    bool Usable() const { return m_usable; }

    // Chooses the job; false (no record kept) when the id is not 1 to 9
    // digits or the uuid not "urn:uuid:" and 36 hex digits and dashes.
    bool Choose(const char* jobId, const char* uuid);

    // The chosen job's record; false when there is none (or it is broken).
    bool Load(JobRecord* record) const;
    // Writes the chosen job's record whole. False when it could not.
    bool Save(const JobRecord& record);
    // The job's record goes (it ended for good, or is printed anew).
    void Remove();

    // The hand-off mark of a printer, -1 when none; SetHandoffMark with -1 removes it.
    long HandoffMark(const std::string& serial) const;
    void SetHandoffMark(const std::string& serial, long mark);

    // Removes records and marks not written for `maxAgeSeconds`.
    void CleanOld(long maxAgeSeconds);

    const std::string& Folder() const { return m_folder; }

private:
    bool Write(const std::string& name, const std::string& text);
    bool Read(const std::string& name, std::string* text) const;

    std::string m_folder;
    std::string m_job;     // file name of the chosen job, empty: none
    bool m_usable = false;
};

// Records older than this are cleaned out: a job is not retried for so long.
constexpr long kJobRecordMaxAge = 7L * 24 * 3600;
