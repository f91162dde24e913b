#include "PrinterReasons.h"

#include "MediaSets.h"
#include "MediaSizes.h"
#include "PrinterQueries.h"
#include "PrinterStatusCodes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

pappl_preason_t ReasonsForStatus(int64_t status)
{
    using vantora_exchange::StatusCondition;
    switch (vantora_exchange::ConditionOf(status)) {
    case StatusCondition::kNone:
    case StatusCondition::kPowerSaving:
    case StatusCondition::kCooling:
        return PAPPL_PREASON_NONE;
    case StatusCondition::kNoAnswer:
        return PAPPL_PREASON_OFFLINE;
    case StatusCondition::kDoorOpen:
        // PAPPL 1.3 does not report door-open; cover-open says it as well.
        return PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_DOOR_OPEN;
    case StatusCondition::kPaperEnd:
        return PAPPL_PREASON_MEDIA_EMPTY;
    case StatusCondition::kRibbonEnd:
        return PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
    case StatusCondition::kPaperJam:
        return PAPPL_PREASON_MEDIA_JAM;
    case StatusCondition::kRibbonError:
        return PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER;
    case StatusCondition::kPaperSize:
        return PAPPL_PREASON_MEDIA_NEEDED;
    case StatusCondition::kNoTrashBox:
    case StatusCondition::kSystemError:
        break;
    }
    return PAPPL_PREASON_OTHER;
}

MediaState ParseMediaState(const char* media, const char* initial, const char* remaining)
{
    MediaState state;
    state.mediaCode = static_cast<int>(MediaCodeOfAnswer(media));
    state.initial = static_cast<int>(MediaCountOfAnswer(initial));
    state.remaining = static_cast<int>(MediaCountOfAnswer(remaining));
    return state;
}

int SupplyLevel(const MediaState& media)
{
    if (media.initial <= 0 || media.remaining < 0)
        return -1;
    const long long percent = 100LL * media.remaining / media.initial;
    return static_cast<int>(percent > 100 ? 100 : percent);
}

void AddSupplyAttributes(ipp_t* attrs, const MediaState& media)
{
    const int level = SupplyLevel(media);
    char supply[256];
    std::snprintf(supply, sizeof supply,
                  "index=1;class=supplyThatIsConsumed;type=inkRibbon;unit=percent;maxcapacity=100;level=%d;"
                  "colorantname=multi-color;",
                  level >= 0 ? level : -2);
    ippAddOctetString(attrs, IPP_TAG_PRINTER, "printer-supply", supply, static_cast<int>(std::strlen(supply)));
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-supply-description", nullptr, kSupplyName);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_NAME, "marker-names", nullptr, kSupplyName);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_NAME, "marker-colors", nullptr, "#00FFFF#FF00FF#FFFF00");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "marker-types", nullptr, "ink-ribbon");
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "marker-levels", level);
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "marker-low-levels", 10);
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "marker-high-levels", 100);
}

pappl_preason_t ReasonsForMedia(const MediaState& media)
{
    if (media.remaining <= 0)
        return PAPPL_PREASON_NONE;
    const bool low = media.remaining < 10 || (media.initial > 0 && media.remaining * 10 < media.initial);
    return low ? (PAPPL_PREASON_MEDIA_LOW | PAPPL_PREASON_MARKER_SUPPLY_LOW) : PAPPL_PREASON_NONE;
}

int ReadyMediaIndex(int mediaCode)
{
    return MediaIndexForPageSize(ReadyPageSizeOf(mediaCode));
}
