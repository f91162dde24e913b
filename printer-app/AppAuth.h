// Who may do what on the printer application:
// - printing, Get-* operations and the status pages are open to everyone;
// - administration (the web forms, printer and system administration
//   operations) needs a login checked by PAM with the system's
//   authentication service, by a member of the administrators' group;
// - a job is cancelled, held or released by its owner or an administrator;
// - other users' job names and user names are withheld, as CUPS does.
// The control socket is always let through by PAPPL: it is made reachable
// by its owner only (root for the service).
#pragma once

#include "RequestParsers.h"

#include <pappl/pappl.h>

#include <string>

// Default administrators' group, as CUPS uses it.
inline constexpr char kDefaultAdminGroup[] = "lpadmin";

// What a request brought as a login.
enum class LoginState {
    kNone,      // no Authorization header
    kRejected,  // a header PAM refused, or one that is not Basic
    kUser,      // a good login of a user outside the administrators' group
    kAdmin,     // a good login of an administrator
};

// What the application decides for one check PAPPL asks for.
struct AccessDecision {
    http_status_t status = HTTP_STATUS_CONTINUE;  // HTTP_STATUS_CONTINUE: allowed
    bool withholdPrivate = false;                 // strip job names and user names from the answer
};

// The decision for a check. `adminCheck`: PAPPL asks for administration
// (or for a job of another owner); `operation`: the IPP operation, or
// IPP_OP_CUPS_NONE for a web page; `foreignJobs`: for Get-Jobs, whether the
// printer holds jobs of other owners than the requester.
AccessDecision DecideAccess(bool adminCheck, ipp_op_t operation, LoginState login, bool foreignJobs);

// Operations PAPPL lets any printer user do that are administration here.
bool IsPrinterAdministration(ipp_op_t operation);

// Replaces the request's requested-attributes with the same set less the
// job's private attributes (job-name, job-originating-user-name,
// job-originating-host-name). `vendorNames` (count `vendorCount`) are the
// job template attributes of the driver, kept when "all" or
// "job-template" was asked for.
void WithholdPrivateAttributes(ipp_t* request, const char* const* vendorNames, int vendorCount);

// Installs the authorization callback and the administrators' group
// (`adminGroup`; logged when it does not exist: then only the control
// socket administers).
void SetUpAuthorization(pappl_system_t* system, const std::string& adminGroup);

// The printer page's actions (hold new jobs, identify, ...) need an
// administrator's login too, and the page withholds other owners' job
// names: installs a guard in front of PAPPL's page.
// Call from the printer creation callback, before PAPPL adds its pages.
void GuardPrinterPage(pappl_printer_t* printer);

// Makes the control socket (PAPPL's domain socket for the command line)
// reachable by the server's user only, once it exists.
void RestrictControlSocket(const char* appName);
