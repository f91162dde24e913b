// The backend's side of the CUPS message channel (standard error, see
// backend(7)): INFO:, ERROR: and DEBUG: lines, STATE: lines that set and
// clear printer-state-reasons, and ATTR: lines for the media left.
#pragma once

#include <cstdio>
#include <set>
#include <string>

namespace vantora_backend {

class CupsMessages {
public:
    explicit CupsMessages(FILE* out);

    // One line each; an INFO: text equal to the previous one is not repeated.
    void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The reasons this backend reports now: "STATE: +..." for the new ones,
    // "STATE: -..." for those that went. Reasons of others stay untouched.
    void SetReasons(const std::set<std::string>& reasons);
    const std::set<std::string>& reasons() const { return m_reasons; }

    // "PAGE: total N": the job's sheets printed so far, its earlier runs'
    // included. CUPS keeps the highest total as the job's
    // job-impressions-completed (and job-media-sheets-completed) and writes
    // it to page_log when the job ends, so a total said twice counts once.
    // Printed only when it rises.
    void PagesTotal(int total);

    // Clears the reasons this backend reports, whichever an earlier job
    // may have left on the queue (one that handed its job to a sister
    // printer leaves them, so that the stopped queue shows why).
    void ClearLeftOverReasons();

    // The media set as a marker: `remain` prints left of `initial` (the
    // MQTY and MQTY_DEFAULT answers, already cut to their numbers; negative
    // when unknown). Printed again only when the level changes. The marker
    // type is one that desktop printer settings draw as a level bar.
    void Markers(long remain, long initial);

    // The level (0-100) a remain/initial pair gives, or -1 when unknown.
    static int MarkerLevel(long remain, long initial);

private:
    void Line(const char* prefix, const char* format, va_list args);

    FILE* m_out;
    std::set<std::string> m_reasons;
    std::string m_lastInfo;
    int m_lastLevel = -100;
    int m_lastTotal = 0;
};

}  // namespace vantora_backend
