// The RT-50's page sizes and the media sets it loads, in one table each:
// a page size by the MULTICUT code that asks for it, a media set by the
// code its INFO MEDIA answer carries (150, 161). A set prints the pages
// that fit within its paper, and is cut for the page of its own size.
#pragma once

// One page size: its MULTICUT code, its name (the PPD's "PageSize") and
// its paper in millimetres.
struct PageSize {
    int multicut;
    const char* name;
    int widthMm;
    int lengthMm;
};

// One media set: the code of its INFO MEDIA answer, its name for people and
// its paper in millimetres.
struct MediaSet {
    int code;
    const char* name;
    int widthMm;
    int lengthMm;
};

// The page size of a MULTICUT code (47..52); null for any other code.
const PageSize* FindPageSize(int multicut);

// The media set of a media code; null for an unknown code (-1 when the
// printer did not answer).
const MediaSet* FindMediaSet(int mediaCode);

// Whether loaded media (the printer's MEDIA answer) prints a sheet of a
// MULTICUT code: the 4x6in media takes the 4-inch-wide pages up to 6 inches
// (47, 48), the 4.5x8in media all six sizes (47..52). Unknown media (-1,
// other codes) and unknown sizes are left to the printer.
bool MediaPrintsSheet(int media, int multicut);

// The media a sheet needs, as a short text naming every set that prints it:
// "4x6in media (code 150) or 4.5x8in media (code 161)", or only the larger
// "4.5x8in media (code 161)" (also for an unknown MULTICUT code).
const char* MediaNeededFor(int multicut);

// A media code as a short text: "4x6in media (code 150)", "unknown media"
// for a code of no media set.
const char* MediaSetText(int mediaCode);

// The name of a media set for people ("4x6in", "4.5x8in"); null for an
// unknown code.
const char* MediaSetName(int mediaCode);

// The page size a media set is cut for, the one of its own paper
// ("102x153mm" for 150, "115x204mm" for 161); null for an unknown code.
const char* ReadyPageSizeOf(int mediaCode);

// The page size a MULTICUT code stands for, e.g. "102x153mm"; "?" for others.
const char* PageSizeOfMulticut(int multicut);

// The MULTICUT code of a page size name ("102x153mm" gives 48); 0 for
// names that are no page size of the RT-50.
int MulticutOfPageSize(const char* name);
