// PAPPL's own web pages and their parts that the application serves inside
// its pages. libpappl 1.3.1 exports them but lacks a public call for them
// (they are not declared in its headers), so they are declared here, in one
// place: a PAPPL version that renames one fails to link, not to run.
#pragma once

#include <pappl/pappl.h>

extern "C" {
// The printer's home page (AppAuth's guard serves it once the login is checked).
void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer);
// The system's home page, likewise.
void _papplSystemWebHome(pappl_client_t* client, pappl_system_t* system);
// The printer's jobs page: it carries out the actions posted from ours.
void _papplPrinterWebJobs(pappl_client_t* client, pappl_printer_t* printer);
// The status part of the printer's home page.
void _papplPrinterWebIteratorCallback(pappl_printer_t* printer, pappl_client_t* client);
// The location, organisation and contact part of the printer's home page.
void _papplClientHTMLInfo(pappl_client_t* client, bool is_form, const char* dns_sd_name, const char* location,
                          const char* geo_location, const char* organization, const char* org_unit,
                          pappl_contact_t* contact);
// "https" or "http", as the links to the pages that need a login use.
const char* _papplClientGetAuthWebScheme(pappl_client_t* client);
// The system's settings part, shown on the printer's page of a single-queue system.
void _papplSystemWebSettings(pappl_client_t* client);
}
