// The PAPPL device scheme "vantora-rt50": PAPPL opens, writes to and asks
// the state of an RT-50 through the application's printer links (and so
// through the project's USB transfer layer), never through its own USB
// code.
#pragma once

class AttachedPrinter;
struct _pappl_device_s;

// Registers the scheme. PAPPL's built-in schemes stay available: the
// first device call registers them before ours.
void RegisterRt50Scheme();

// The printer link of an open device of this scheme; null for another
// scheme's device.
AttachedPrinter* LinkOfDevice(struct _pappl_device_s* device);
