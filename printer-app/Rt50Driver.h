// The PAPPL driver "vantora_rt50": what an RT-50 printer offers to IPP
// clients (media, resolutions, raster types, photo settings and the
// attributes PAPPL leaves out) and how its jobs print.
#pragma once

#include "PrinterAttributes.h"

#include <pappl/pappl.h>

// The driver list for papplMainloop.
extern pappl_pr_driver_t kRt50Drivers[1];

// papplMainloop's driver callback: fills `data` and the extra attributes.
bool Rt50DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                        pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// The printer creation callback: guards the printer's web page (AppAuth.h),
// serves its supplies page and completes its attributes.
void Rt50PrinterCreated(pappl_printer_t* printer, void* data);

// papplMainloop's auto-add callback: the driver for an RT-50's device ID.
const char* Rt50AutoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* data);

// Registers the document filters (JPEG, PNG and PDF into the driver) with
// the system.
void AddDocumentFilters(pappl_system_t* system);
