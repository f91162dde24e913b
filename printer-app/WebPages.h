// The application's own web pages: "/rt50", which shows every RT-50 the
// application knows (serial number, firmware, connection, status, loaded
// media, prints left and the life counter), the line on each printer's page
// with its serial number and firmware, the printer's home, jobs and
// supplies pages.
#pragma once

#include <pappl/pappl.h>

#include <string>

class AttachedPrinter;

// Who looks at a list of jobs: an administrator sees every job's name and
// owner, a logged-in user those of their own jobs, anyone else none.
struct JobViewer {
    std::string user;
    bool admin = false;
};

// The printer's page (a GET): its status, configuration and latest jobs,
// other owners' job names and user names withheld from `viewer`.
void ServePrinterHomePage(pappl_client_t* client, pappl_printer_t* printer, const JobViewer& viewer);

// Adds the page and its navigation attached to the system.
void AddInfoPage(pappl_system_t* system);

// Serves the printer's jobs page (PAPPL's, with the reason an aborted job
// ended). Call from the printer creation callback, before PAPPL adds its
// own pages.
void AddJobsPage(pappl_printer_t* printer);

// Serves the printer's supplies page: the ribbon and paper set's gauge and
// the prints left. Call from the printer creation callback, before PAPPL
// adds its own pages.
void AddSuppliesPage(pappl_printer_t* printer);

// Puts the printer's serial number and firmware version on its page.
void LabelPrinterPage(pappl_printer_t* printer, const AttachedPrinter& attached);

// Notes an Identify-Printer request for `printer`: the page shows the time
// of the last one. Its message is not shown: anyone may send one, and a
// public page would carry it to every visitor ("Printer moved: pay at
// ..."); it goes to the log.
void NoteIdentify(pappl_printer_t* printer);
