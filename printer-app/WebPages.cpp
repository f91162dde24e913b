#include "WebPages.h"

#include "MediaSizes.h"
#include "PapplPrivate.h"
#include "AttachedPrinter.h"
#include "PrinterIdentity.h"
#include "PrinterRegistry.h"
#include "PrinterReasons.h"
#include "PrinterStatusCodes.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr char kInfoPath[] = "/rt50";

std::mutex g_identifyMutex;
std::map<pappl_printer_t*, std::string> g_identify;

void Escaped(pappl_client_t* client, const std::string& text)
{
    papplClientHTMLEscape(client, text.c_str(), text.size());
}

bool ServeInfoPage(pappl_client_t* client, void*)
{
    if (papplClientGetMethod(client) != HTTP_STATE_GET) {
        papplClientRespond(client, HTTP_STATUS_METHOD_NOT_ALLOWED, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0))
        return false;
    papplClientHTMLHeader(client, "RT-50 printers", 10);
    papplClientHTMLPuts(client,
                        "    <div class=\"content\">\n"
                        "      <div class=\"row\">\n"
                        "        <div class=\"col-12\">\n"
                        "          <h1 class=\"title\">RT-50 printers</h1>\n"
                        "          <table class=\"list\" summary=\"RT-50 printers\">\n"
                        "            <thead><tr><th>Printer</th><th>Serial number</th><th>Firmware</th>"
                        "<th>Connection</th><th>Status</th><th>Media</th><th>Prints left</th>"
                        "<th>Total prints</th></tr></thead>\n"
                        "            <tbody>\n");
    for (const auto& attached : AllAttachedPrinters()) {
        const PrinterFacts facts = attached->Facts();
        pappl_printer_t* printer = nullptr;
        papplClientHTMLPuts(client, "              <tr><td>");
        attached->UsePrinter([&](pappl_printer_t* shown) {
            char path[256];
            papplPrinterGetPath(shown, nullptr, path, sizeof path);
            papplClientHTMLPrintf(client, "<a href=\"%s\">", path);
            Escaped(client, papplPrinterGetName(shown));
            papplClientHTMLPuts(client, "</a>");
            printer = shown;  // only a key of the identify messages below
        });
        papplClientHTMLPuts(client, "</td><td>");
        Escaped(client, facts.serial);
        papplClientHTMLPuts(client, "</td><td>");
        Escaped(client, facts.firmware);
        papplClientHTMLPrintf(client, "</td><td>%s</td><td>%s</td><td>", facts.online ? "USB" : "unplugged",
                              facts.online ? vantora_exchange::DescribeStatus(facts.status).text : "offline");
        const int ready = ReadyMediaIndex(facts.media.mediaCode);
        if (ready >= 0)
            papplClientHTMLPrintf(client, "%s (roll %d)", kMediaSizes[ready].pageSize, facts.media.mediaCode);
        papplClientHTMLPuts(client, "</td><td>");
        if (facts.media.remaining >= 0 && facts.media.initial > 0)
            papplClientHTMLPrintf(client, "%d / %d", facts.media.remaining, facts.media.initial);
        else if (facts.media.remaining >= 0)
            papplClientHTMLPrintf(client, "%d", facts.media.remaining);
        papplClientHTMLPuts(client, "</td><td>");
        if (facts.lifeCounter >= 0)
            papplClientHTMLPrintf(client, "%lld", facts.lifeCounter);
        papplClientHTMLPuts(client, "</td></tr>\n");
        std::string message;
        {
            std::lock_guard<std::mutex> lock(g_identifyMutex);
            const auto found = g_identify.find(printer);
            if (printer != nullptr && found != g_identify.end())
                message = found->second;
        }
        if (!message.empty()) {
            papplClientHTMLPuts(client, "              <tr><td colspan=\"8\"><b>Identify-Printer</b> at ");
            Escaped(client, message);
            papplClientHTMLPuts(client, "</td></tr>\n");
        }
    }
    papplClientHTMLPuts(client,
                        "            </tbody>\n"
                        "          </table>\n"
                        "        </div>\n"
                        "      </div>\n"
                        "    </div>\n");
    papplClientHTMLFooter(client);
    return true;
}

struct JobRows {
    pappl_client_t* client;
    std::string path;
    JobViewer viewer;
};

// Whether the viewer may see the job's name and owner: administrators see
// all, a logged-in user their own jobs, others none (as CUPS withholds
// them).
bool ShowsNames(const JobViewer& viewer, pappl_job_t* job)
{
    if (viewer.admin)
        return true;
    const char* owner = papplJobGetUsername(job);
    return !viewer.user.empty() && owner != nullptr && viewer.user == owner;
}

const char* JobStateText(ipp_jstate_t state)
{
    switch (state) {
    case IPP_JSTATE_PENDING:
        return "Pending";
    case IPP_JSTATE_HELD:
        return "Held";
    case IPP_JSTATE_PROCESSING:
        return "Printing";
    case IPP_JSTATE_STOPPED:
        return "Stopped";
    case IPP_JSTATE_CANCELED:
        return "Canceled";
    case IPP_JSTATE_ABORTED:
        return "Aborted";
    default:
        return "Completed";
    }
}

void JobRow(pappl_job_t* job, void* data)
{
    JobRows* rows = static_cast<JobRows*>(data);
    pappl_client_t* client = rows->client;
    const ipp_jstate_t state = papplJobGetState(job);
    const time_t when = state >= IPP_JSTATE_CANCELED ? papplJobGetTimeCompleted(job) : papplJobGetTimeCreated(job);
    char time[32] = "";
    struct tm local {};
    localtime_r(&when, &local);
    strftime(time, sizeof time, "%H:%M:%S", &local);
    papplClientHTMLPrintf(client, "              <tr><td>%d</td><td>", papplJobGetID(job));
    const bool shown = ShowsNames(rows->viewer, job);
    const char* name = papplJobGetName(job);
    Escaped(client, !shown ? "Withheld" : (name != nullptr ? name : ""));
    papplClientHTMLPuts(client, "</td><td>");
    const char* owner = papplJobGetUsername(job);
    Escaped(client, !shown ? "Withheld" : (owner != nullptr ? owner : ""));
    papplClientHTMLPrintf(client, "</td><td>%d</td><td>%s at %s</td><td>", papplJobGetImpressionsCompleted(job),
                          JobStateText(state), time);
    const char* message = papplJobGetMessage(job);
    if (message != nullptr && (state == IPP_JSTATE_ABORTED || state == IPP_JSTATE_STOPPED))
        Escaped(client, message);
    papplClientHTMLPuts(client, "</td><td>");
    if (state <= IPP_JSTATE_STOPPED && !papplJobIsCanceled(job)) {
        papplClientHTMLStartForm(client, rows->path.c_str(), false);
        papplClientHTMLPrintf(client,
                              "<input type=\"hidden\" name=\"action\" value=\"cancel-job\">"
                              "<input type=\"hidden\" name=\"job-id\" value=\"%d\">"
                              "<input type=\"submit\" value=\"Cancel Job\"></form>",
                              papplJobGetID(job));
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
}

// The printer's jobs page, for administrators: PAPPL's list with the reason
// an aborted job ended. Its buttons post to PAPPL's own page.
bool ServeJobsPage(pappl_client_t* client, void* data)
{
    pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client))
        return true;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        _papplPrinterWebJobs(client, printer);
        return true;
    }
    // The printer header sends the HTTP response header too.
    papplClientHTMLPrinterHeader(client, printer, "Jobs", 10, nullptr, nullptr);
    char path[256];
    papplPrinterGetPath(printer, "jobs", path, sizeof path);
    if (papplPrinterGetNumberOfJobs(printer) > 0) {
        papplClientHTMLPuts(client,
                            "          <table class=\"list\" summary=\"Jobs\">\n"
                            "            <thead><tr><th>Job #</th><th>Name</th><th>Owner</th><th>Pages Completed</th>"
                            "<th>Status</th><th>Reason</th><th></th></tr></thead>\n"
                            "            <tbody>\n");
        JobRows rows{client, path, JobViewer{"", true}};
        papplPrinterIterateAllJobs(printer, JobRow, &rows, 1, 100);
        papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
    } else {
        papplClientHTMLPuts(client, "        <p>No jobs in history.</p>\n");
    }
    papplClientHTMLPrinterFooter(client);
    return true;
}

// The supplies page: the ribbon and paper set's gauge and the prints left.
bool ServeSuppliesPage(pappl_client_t* client, void* data)
{
    pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
    if (papplClientGetMethod(client) != HTTP_STATE_GET) {
        papplClientRespond(client, HTTP_STATUS_METHOD_NOT_ALLOWED, nullptr, nullptr, 0, 0);
        return true;
    }
    MediaState media;
    if (const auto attached = FindAttachedPrinter(SerialInRt50Uri(papplPrinterGetDeviceURI(printer))))
        media = attached->Facts().media;
    const int level = SupplyLevel(media);
    const double shown = level < 0 ? 0.0 : level;
    // The printer header sends the HTTP response header too.
    papplClientHTMLPrinterHeader(client, printer, "Supplies", 10, nullptr, nullptr);
    papplClientHTMLPrintf(client,
                          "          <table class=\"meter\" summary=\"Supplies\">\n"
                          "            <thead><tr><th></th><td></td><td></td><td></td><td></td></tr></thead>\n"
                          "            <tbody>\n"
                          "              <tr><th>%s</th><td colspan=\"4\"><span class=\"bar\" style=\"background: "
                          "linear-gradient(90deg, #0cc, #c0c, #cc0); padding: 0px %.1f%%;\" title=\"%d%%\"></span>"
                          "<span class=\"bar\" style=\"background: transparent; padding: 0px %.1f%%;\" "
                          "title=\"%d%%\"></span></td></tr>\n"
                          "            </tbody>\n"
                          "            <tfoot><tr><th></th><td></td><td></td><td></td><td></td></tr></tfoot>\n"
                          "          </table>\n",
                          kSupplyName, shown * 0.5, level, 50.0 - shown * 0.5, level);
    if (media.remaining >= 0 && media.initial > 0)
        papplClientHTMLPrintf(client, "          <p>%d of %d prints left.</p>\n", media.remaining, media.initial);
    else if (media.remaining >= 0)
        papplClientHTMLPrintf(client, "          <p>%d prints left.</p>\n", media.remaining);
    else
        papplClientHTMLPuts(client, "          <p>The prints left are not known while the printer is away.</p>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void ServePrinterHomePage(pappl_client_t* client, pappl_printer_t* printer, const JobViewer& viewer)
{
    // As PAPPL's page, with the job list of the jobs page.
    char path[256];
    papplPrinterGetPath(printer, "", path, sizeof path);
    if (path[0] != '\0' && path[strlen(path) - 1] == '/')
        path[strlen(path) - 1] = '\0';
    papplClientHTMLPrinterHeader(client, printer, nullptr, papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING ? 10 : 0,
                                 nullptr, nullptr);
    papplClientHTMLPuts(client, "      <div class=\"row\">\n        <div class=\"col-6\">\n");
    _papplPrinterWebIteratorCallback(printer, client);
    papplClientHTMLPrintf(client,
                          "          <h1 class=\"title\">Configuration <a class=\"btn\" href=\"%s://%s:%d%s/config\">"
                          "Change</a></h1>\n",
                          _papplClientGetAuthWebScheme(client), papplClientGetHostName(client),
                          papplClientGetHostPort(client), path);
    char dnssdName[256] = "", location[256] = "", geoLocation[256] = "", organization[256] = "", unit[256] = "";
    pappl_contact_t contact {};
    papplPrinterGetDNSSDName(printer, dnssdName, sizeof dnssdName);
    papplPrinterGetLocation(printer, location, sizeof location);
    papplPrinterGetGeoLocation(printer, geoLocation, sizeof geoLocation);
    papplPrinterGetOrganization(printer, organization, sizeof organization);
    papplPrinterGetOrganizationalUnit(printer, unit, sizeof unit);
    papplPrinterGetContact(printer, &contact);
    // Unset values are null for PAPPL (an empty geo-location would be drawn
    // as a map of 0° N 0° E).
    auto set = [](const char* value) { return value[0] != '\0' ? value : nullptr; };
    _papplClientHTMLInfo(client, false, set(dnssdName), set(location), set(geoLocation), set(organization), set(unit),
                         &contact);
    if (!(papplSystemGetOptions(papplPrinterGetSystem(printer)) & PAPPL_SOPTIONS_MULTI_QUEUE))
        _papplSystemWebSettings(client);
    papplClientHTMLPrintf(client, "        </div>\n        <div class=\"col-6\">\n          <h1 class=\"title\">"
                                  "<a href=\"%s/jobs\">Jobs</a>",
                          path);
    if (papplPrinterGetNumberOfJobs(printer) > 0) {
        if (papplPrinterGetNumberOfActiveJobs(printer) > 0)
            papplClientHTMLPrintf(client, " <a class=\"btn\" href=\"%s://%s:%d%s/cancelall\">Cancel All Jobs</a>",
                                  _papplClientGetAuthWebScheme(client), papplClientGetHostName(client),
                                  papplClientGetHostPort(client), path);
        papplClientHTMLPuts(client,
                            "</h1>\n"
                            "          <table class=\"list\" summary=\"Jobs\">\n"
                            "            <thead><tr><th>Job #</th><th>Name</th><th>Owner</th><th>Pages Completed</th>"
                            "<th>Status</th><th>Reason</th><th></th></tr></thead>\n"
                            "            <tbody>\n");
        JobRows rows{client, std::string(path) + "/jobs", viewer};
        papplPrinterIterateAllJobs(printer, JobRow, &rows, 1, 20);
        papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
    } else {
        papplClientHTMLPuts(client, "</h1>\n        <p>No jobs in history.</p>\n");
    }
    papplClientHTMLPrinterFooter(client);
}

void AddJobsPage(pappl_printer_t* printer)
{
    char path[256];
    papplPrinterGetPath(printer, "jobs", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", ServeJobsPage, printer);
}

void NoteIdentify(pappl_printer_t* printer)
{
    char when[32];
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(when, sizeof when, "%H:%M:%S", &local);
    std::lock_guard<std::mutex> lock(g_identifyMutex);
    g_identify[printer] = when;
}

void AddInfoPage(pappl_system_t* system)
{
    papplSystemAddResourceCallback(system, kInfoPath, "text/html", ServeInfoPage, nullptr);
    papplSystemAddLink(system, "RT-50 Printers", kInfoPath, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}

void LabelPrinterPage(pappl_printer_t* printer, const AttachedPrinter& attached)
{
    static std::mutex labelMutex;
    static std::map<pappl_printer_t*, std::string> labels;
    const PrinterFacts facts = attached.Facts();
    char label[256];
    // The firmware text comes from the printer: only plain characters.
    const std::string firmware = PlainFirmware(facts.firmware);
    std::snprintf(label, sizeof label, "Serial number %s, firmware %s", facts.serial.c_str(),
                  firmware.empty() ? "unknown" : firmware.c_str());
    std::lock_guard<std::mutex> lock(labelMutex);
    std::string& old = labels[printer];
    if (old == label)
        return;
    if (!old.empty())
        papplPrinterRemoveLink(printer, old.c_str());
    papplPrinterAddLink(printer, label, kInfoPath, PAPPL_LOPTIONS_STATUS);
    old = label;
}

void AddSuppliesPage(pappl_printer_t* printer)
{
    char path[256];
    papplPrinterGetPath(printer, "supplies", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", ServeSuppliesPage, printer);
}
