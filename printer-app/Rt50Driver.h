// The PAPPL driver "vantora_rt50": what an RT-50 printer offers to IPP
// clients (media, resolutions, raster types, photo settings and the
// attributes PAPPL leaves out) and how its jobs print.
#pragma once

#include <pappl/pappl.h>

// The driver list for papplMainloop.
extern pappl_pr_driver_t kRt50Drivers[1];

// The format PAPPL hands to the driver's photo filter; never accepted as a
// document itself.
inline constexpr char kRt50Format[] = "application/vnd.vantora-rt50";

// papplMainloop's driver callback: fills `data` and the extra attributes.
bool Rt50DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                        pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// The printer creation callback: guards the printer's web page (AppAuth.h).
void Rt50PrinterCreated(pappl_printer_t* printer, void* data);

// papplMainloop's auto-add callback: the driver for an RT-50's device ID.
const char* Rt50AutoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);

// Registers the photo filters (JPEG and PNG into the driver) with the
// system.
void AddPhotoFilters(pappl_system_t* system);
