// The printer application's system: PAPPL's server options, its state
// file and spool folder, the RT-50 device scheme, the photo filters, the
// printer information page and the hot-plug thread.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Name of the application: program, state file, control socket.
inline constexpr char kAppName[] = "vantora-rt50-printer-app";

// The packaged service's state folder (its unit sets SNAP_COMMON to it).
inline constexpr char kServiceStateFolder[] = "/var/lib/vantora-rt50-printer-app";

// For root without SNAP_COMMON, when `folder` is root's: sets SNAP_COMMON to
// it, so that root's commands reach the service's control socket and a
// server started by hand uses the service's state. True when it was set.
bool UseServiceStateFolder(const char* folder);

// The state file: $SNAP_COMMON/<name>.state, else /var/lib/<name>.state
// for root, else $HOME/.config/<name>.state.
std::string StateFilePath();

// What the system is made for: serving, or only listing the drivers
// (no state, no printers). papplMainloop's callback data points to one.
enum class AppRole { kServe, kListDrivers };

// papplMainloop's system callback (`data`: an AppRole, null for serving).
// Options as PAPPL's own server takes them: server-port, server-options
// (no-tls, ...), server-hostname, log-level, log-file, spool-directory;
// admin-group (the administrators' group, "lpadmin" by default) and
// auth-service (the PAM service of logins, the application's name by
// default). A second server for the same state file is refused (null).
pappl_system_t* CreateAppSystem(int numOptions, cups_option_t* options, void* data);

// Ends the hot-plug thread once the system has stopped.
void EndAppSystem();
