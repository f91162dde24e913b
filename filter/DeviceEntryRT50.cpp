#include "DeviceEntryRT50.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

const DeviceMediaTableRow gMediaInfo_RT50[] = {
    {91, "102x102mm", 47, 4.0, 4.0, 300, 1266, 1236, 66, 54, 30, 1266, 1236, 1, 1, 1.0},
    {92, "102x153mm", 48, 4.0, 6.0, 300, 1266, 1836, 66, 54, 30, 1266, 1836, 1, 1, 1.0},
    {93, "102x204mm", 49, 4.0, 8.0, 300, 1266, 2436, 66, 54, 30, 1266, 2436, 1, 1, 1.0},
    {94, "115x115mm", 50, 4.5, 4.5, 300, 1408, 1386, 66, 54, 30, 1408, 1386, 1, 0, 1.0},
    {95, "115x153mm", 51, 4.5, 6.0, 300, 1408, 1836, 66, 54, 30, 1408, 1836, 1, 1, 1.0},
    {96, "115x204mm", 52, 4.5, 8.0, 300, 1408, 2436, 66, 54, 30, 1408, 2436, 1, 1, 1.0},
    {-1, nullptr, 0, 0.0, 0.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.0},
};

const DeviceOvercoatInfo gOverCoatInfo_RT50[] = {
    {0, 0, 0, 0, 1.0},     {1, 1, 0, 0, 1.0},     {2, 2, 0, 0, 1.0},
    {3, 3, 0, 0, 1.0},     {21, 21, 0, 0, 1.0},   {22, 22, 0, 0, 1.0},
    {101, 101, 1, 0, 1.0}, {121, 121, 1, 0, 1.0}, {122, 122, 1, 0, 0.61},
    {-1, 0, 0, 0, 0.0},
};

namespace {

// Tolerance of a size asked for by its dimensions, hundredths of mm: 5
// points, as CUPS matches a job's size to a PPD's.
constexpr int kSizeTolerance = 176;

// Reads a number of points (digits, then perhaps a fraction) at `text`.
// Returns where it ends, or null when there is none.
const char* ScanPoints(const char* text, double* points)
{
    const char* end = text;
    double value = 0.0;
    while (std::isdigit(static_cast<unsigned char>(*end)) && end - text < 6)
        value = value * 10.0 + (*end++ - '0');
    if (end == text)
        return nullptr;
    if (end[0] == '.' && std::isdigit(static_cast<unsigned char>(end[1]))) {
        double scale = 0.1;
        for (++end; std::isdigit(static_cast<unsigned char>(*end)); ++end, scale /= 10.0)
            value += (*end - '0') * scale;
    }
    *points = value;
    return end;
}

// Reads "w<points>h<points>", the size names PPDs commonly give, into
// hundredths of mm. False for anything else.
bool ScanPointsName(const char* name, int* width, int* length)
{
    double w = 0.0;
    double h = 0.0;
    const char* end = name[0] == 'w' ? ScanPoints(name + 1, &w) : nullptr;
    end = end != nullptr && *end == 'h' ? ScanPoints(end + 1, &h) : nullptr;
    // ".Fullbleed" and the like name the same paper.
    if (end == nullptr || (*end != '\0' && *end != '.'))
        return false;
    *width = static_cast<int>(std::lround(w * 2540.0 / 72.0));
    *length = static_cast<int>(std::lround(h * 2540.0 / 72.0));
    return true;
}

// The paper a size name describes, in hundredths of mm: a PWG
// self-describing name (na_index-4x6_4x6in), a PPD or common name (4x6,
// 4x6in, 4x6.Fullbleed), a legacy IPP name or w<points>h<points>. False for
// a name that describes no dimensions.
bool PaperOfName(const char* name, int* width, int* length)
{
    if (ScanPointsName(name, width, length))
        return true;
    pwg_media_t* media = pwgMediaForPWG(name);
    if (media == nullptr)
        media = pwgMediaForLegacy(name);
    if (media == nullptr)
        media = pwgMediaForPPD(name);
    if (media == nullptr || media->width <= 0 || media->length <= 0)
        return false;
    *width = media->width;
    *length = media->length;
    return true;
}

bool Near(int value, int target)
{
    return std::abs(value - target) < kSizeTolerance;
}

}  // namespace

int MediaIdForPageSize_RT50(const char* pageSize)
{
    if (pageSize == nullptr)
        return kUnknownMediaId;
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row) {
        if (std::strcmp(row->pageSize, pageSize) == 0)
            return row->mediaId;
    }
    // Any other name of one of the papers, portrait or landscape. The
    // length bound keeps the name parsers to what a name can be.
    int width = 0;
    int length = 0;
    if (std::strlen(pageSize) > 64 || !PaperOfName(pageSize, &width, &length))
        return kUnknownMediaId;
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row) {
        const int paperWidth = static_cast<int>(std::lround(row->width * 2540.0));
        const int paperLength = static_cast<int>(std::lround(row->height * 2540.0));
        if ((Near(width, paperWidth) && Near(length, paperLength)) ||
            (Near(width, paperLength) && Near(length, paperWidth)))
            return row->mediaId;
    }
    return kUnknownMediaId;
}

DeviceEntry_RT50::~DeviceEntry_RT50()
{
    FreeMediaBuffer();
}

int DeviceEntry_RT50::SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd)
{
    double firmware = 0.0;
    if (_GetFirmwVersion(0, &firmware) != 0)
        return 0;
    const int mediaId = MediaIdForPageSize_RT50(_GetCupsValue("PageSize", numOptions, options, ppd));
    return SetMediaInfo(m_media, mediaId, firmware) == 0 ? 1 : 0;
}

int DeviceEntry_RT50::SetMediaInfo(DeviceMediaBufferInfo& record, long mediaId, double firmware)
{
    if (mediaId < 91 || mediaId > 96)
        return 3;
    record.mediaId = -1;
    const DeviceMediaTableRow* row = gMediaInfo_RT50;
    while (row->mediaId != -1 && row->mediaId != mediaId)
        ++row;
    if (row->mediaId == -1 || firmware < row->minFirmware)
        return 3;
    record.mediaId = row->mediaId;
    record.multicutCode = row->multicutCode;
    record.width = row->width;
    record.height = row->height;
    record.tableResolution = row->tableResolution;
    record.pageWidth = row->pageWidth;
    record.pageHeight = row->pageHeight;
    record.borderMarginX = row->borderMarginX;
    record.borderMarginY = row->borderMarginY;
    record.imageGap = row->imageGap;
    record.imageWidth = row->imageWidth;
    record.imageHeight = row->imageHeight;
    record.imagesPerSheet = row->imagesPerSheet;
    record.twoInchCut = row->twoInchCut;
    record.minFirmware = row->minFirmware;
    return UpdateMediaInfo(record);
}

DeviceMediaBufferInfo DeviceEntry_RT50::GetMultiMediaInfo(const DeviceMediaBufferInfo& record, int)
{
    DeviceMediaBufferInfo sheet = record;
    double firmware = 0.0;
    if (_GetFirmwVersion(0, &firmware) == 0)
        SetMediaInfo(sheet, sheet.mediaId, firmware);
    return sheet;
}

int DeviceEntry_RT50::SetOvercoatFinish(unsigned long code, double firmware)
{
    m_overcoat.id = -1;
    const int32_t wanted = static_cast<int32_t>(code);
    for (const DeviceOvercoatInfo* row = gOverCoatInfo_RT50; row->id != -1; ++row) {
        if (row->id == wanted && !(row->minFirmware > firmware)) {
            m_overcoat = *row;
            return m_overcoat.id == -1 ? 3 : 0;
        }
    }
    return 3;
}
