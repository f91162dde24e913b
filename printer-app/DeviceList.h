// The "devices" command: the RT-50s on USB with their device URIs. PAPPL's
// own listing also browses DNS-SD, which aborts the program where Avahi is
// not running; the printer application drives USB printers only.
#pragma once

#include <cstdio>

// Writes one line per RT-50 found: its device URI, its description and its
// device ID, quoted. Returns the exit status: 0, or 1 when libusb could
// not be used.
int ListRt50Devices(FILE* out);
