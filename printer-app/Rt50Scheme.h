// The PAPPL device scheme "vantora-rt50": PAPPL opens and asks the state
// of an RT-50 through the application's AttachedPrinter (and so through
// the project's USB transfer layer), never through its own USB code.
//
// A printed sheet's path: a job's callback (Rt50Driver.cpp) takes the
// AttachedPrinter of its open device here (AttachedPrinterOfDevice) and
// hands it to its AppPrintJob, whose sheet sink makes each sheet's command
// stream and calls AttachedPrinter::PrintSheet (JobSheets.cpp), which sends
// it through SheetSender (common/delivery). The device's raw write is
// refused: no byte reaches the printer another way.
#pragma once

class AttachedPrinter;
struct _pappl_device_s;

// Registers the scheme. PAPPL's built-in schemes stay available: the
// first device call registers them before ours.
void RegisterRt50Scheme();

// The attached printer of an open device of this scheme; null for another
// scheme's device.
AttachedPrinter* AttachedPrinterOfDevice(struct _pappl_device_s* device);
