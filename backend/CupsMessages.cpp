#include "CupsMessages.h"

#include <cstdarg>

namespace vantora_backend {

namespace {

// A printed message line is cut here; CUPS reads lines of up to 1 KiB.
constexpr size_t kLineMax = 512;

// The media set's marker. GNOME's printer settings draw level bars only for
// the marker types "inkCartridge" and "tonerCartridge"; the ribbon and paper
// set is the printer's ink supply.
constexpr char kMarkerName[] = "Ribbon and paper";
constexpr char kMarkerType[] = "inkCartridge";
constexpr char kMarkerColor[] = "#00A0E0";
constexpr int kMarkerLowLevel = 10;

// Every printer-state-reason the backend reports (CupsReasonOfStatus, the
// printer's absence and the media a job needs).
constexpr char kBackendReasons[] =
    "offline-report,door-open-error,output-tray-missing-error,media-empty-error,marker-print-ribbon-empty-error,"
    "media-jam-error,marker-print-ribbon-missing-error,input-cannot-feed-size-selected-error,other-error,media-needed";

std::string Joined(const std::set<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

}  // namespace

CupsMessages::CupsMessages(FILE* out)
    : m_out(out)
{
}

void CupsMessages::Line(const char* prefix, const char* format, va_list args)
{
    char text[kLineMax];
    std::vsnprintf(text, sizeof text, format, args);
    // One message is one line: a line feed inside would start a new one.
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r')
            *c = ' ';
    }
    if (prefix[0] == 'I') {
        if (m_lastInfo == text)
            return;
        m_lastInfo = text;
    }
    std::fprintf(m_out, "%s: %s\n", prefix, text);
    std::fflush(m_out);
}

void CupsMessages::Info(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line("INFO", format, args);
    va_end(args);
}

void CupsMessages::Error(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line("ERROR", format, args);
    va_end(args);
}

void CupsMessages::Debug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Line("DEBUG", format, args);
    va_end(args);
}

void CupsMessages::SetReasons(const std::set<std::string>& reasons)
{
    std::set<std::string> added;
    std::set<std::string> gone;
    for (const std::string& reason : reasons) {
        if (m_reasons.count(reason) == 0)
            added.insert(reason);
    }
    for (const std::string& reason : m_reasons) {
        if (reasons.count(reason) == 0)
            gone.insert(reason);
    }
    if (!gone.empty())
        std::fprintf(m_out, "STATE: -%s\n", Joined(gone).c_str());
    if (!added.empty())
        std::fprintf(m_out, "STATE: +%s\n", Joined(added).c_str());
    std::fflush(m_out);
    m_reasons = reasons;
}

void CupsMessages::PagesTotal(int total)
{
    if (total <= m_lastTotal)
        return;
    std::fprintf(m_out, "PAGE: total %d\n", total);
    std::fflush(m_out);
    m_lastTotal = total;
}

void CupsMessages::ClearLeftOverReasons()
{
    std::fprintf(m_out, "STATE: -%s\n", kBackendReasons);
    std::fflush(m_out);
    m_reasons.clear();
}

int CupsMessages::MarkerLevel(long remain, long initial)
{
    if (remain < 0 || initial <= 0)
        return -1;
    if (remain >= initial)
        return 100;
    return static_cast<int>(remain * 100 / initial);
}

void CupsMessages::Markers(long remain, long initial)
{
    const int level = MarkerLevel(remain, initial);
    if (level == m_lastLevel)
        return;
    if (m_lastLevel == -100) {
        std::fprintf(m_out, "ATTR: marker-names='\"%s\"'\n", kMarkerName);
        std::fprintf(m_out, "ATTR: marker-types=%s\n", kMarkerType);
        std::fprintf(m_out, "ATTR: marker-colors=%s\n", kMarkerColor);
        std::fprintf(m_out, "ATTR: marker-low-levels=%d\n", kMarkerLowLevel);
        std::fprintf(m_out, "ATTR: marker-high-levels=100\n");
    }
    std::fprintf(m_out, "ATTR: marker-levels=%d\n", level);
    std::fflush(m_out);
    m_lastLevel = level;
}

}  // namespace vantora_backend
