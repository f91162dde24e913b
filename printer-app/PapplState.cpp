#include "PapplState.h"

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

int MediaSupplies(const MediaState& media, pappl_supply_t* supply)
{
    std::memset(supply, 0, sizeof *supply);
    supply->color = PAPPL_SUPPLY_COLOR_MULTIPLE;
    supply->type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
    supply->is_consumed = true;
    supply->level = -1;
    if (media.initial > 0 && media.remaining >= 0) {
        const long long percent = 100LL * media.remaining / media.initial;
        supply->level = static_cast<int>(percent > 100 ? 100 : percent);
    }
    if (media.remaining >= 0 && media.initial > 0)
        std::snprintf(supply->description, sizeof supply->description, "Ribbon and paper (%d of %d prints left)",
                      media.remaining, media.initial);
    else if (media.remaining >= 0)
        std::snprintf(supply->description, sizeof supply->description, "Ribbon and paper (%d prints left)",
                      media.remaining);
    else
        std::snprintf(supply->description, sizeof supply->description, "Ribbon and paper");
    return 1;
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
    if (mediaCode == 150)
        return MediaIndexForPageSize("102x153mm");
    if (mediaCode == 161)
        return MediaIndexForPageSize("115x204mm");
    return -1;
}
