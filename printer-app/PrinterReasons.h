// What clients see of an RT-50's state (the table of status codes is
// PrinterStatusCodes.h): the IPP printer-state-reasons of a status code,
// and the supplies, ready media and supply text of the loaded media set,
// from the printer's query answers.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>

// The printer-state-reasons of an RT-50 status code (GetStatus's result, or
// kStatusFailed for a printer that does not answer, which reads offline).
// Ready, printing and cooling give none.
pappl_preason_t ReasonsForStatus(int64_t status);

// Every reason ReasonsForStatus can give, for removing the old ones.
constexpr pappl_preason_t kDeviceReasons =
    PAPPL_PREASON_OTHER | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_DOOR_OPEN | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_JAM |
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_MEDIA_NEEDED | PAPPL_PREASON_MEDIA_LOW |
    PAPPL_PREASON_MARKER_SUPPLY_LOW | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_INPUT_TRAY_MISSING;

// The loaded media set as the printer reports it.
struct MediaState {
    int mediaCode = -1;   // INFO MEDIA without its two leading zeros: 150 (4-inch) or 161 (4.5-inch); -1 unknown
    int initial = -1;     // prints of a new set; -1 unknown
    int remaining = -1;   // prints left; -1 unknown
};

// Reads the answers of INFO MEDIA, MQTY_DEFAULT and MQTY (as the printer
// sends them: "00150", "0000300", "0000120"; null for a failed query) with
// MediaCodeOfAnswer and MediaCountOfAnswer: anything else reads as unknown.
MediaState ParseMediaState(const char* media, const char* initial, const char* remaining);

// The name of the one supply, the ribbon and paper set: marker-names and
// printer-supply-description, the same whatever is left (the prints left
// are on the web pages).
inline constexpr char kSupplyName[] = "Ribbon and paper";

// The level of the ribbon and paper set: remaining / initial in percent,
// -1 when unknown.
int SupplyLevel(const MediaState& media);

// Adds the supply attributes of the ribbon and paper set to a printer's
// attributes: printer-supply as PWG 5100.13 has it (index 1, class
// supplyThatIsConsumed, type inkRibbon, unit percent, level or -2 for
// unknown, colorant multi-color), printer-supply-description and the
// marker-* attributes CUPS reads (one cyan-magenta-yellow ink ribbon).
void AddSupplyAttributes(ipp_t* attrs, const MediaState& media);

// The reasons the media count adds: media-low (and marker-supply-low) when
// fewer than 10 % or 10 prints are left, none when unknown or empty (paper
// end comes from the status).
pappl_preason_t ReasonsForMedia(const MediaState& media);

// Index into the media table (MediaSizes.h) of the size ready for a media
// code: 150 gives 4x6, 161 gives 4.5x8; -1 for an unknown code.
int ReadyMediaIndex(int mediaCode);
