#include "PhotoPrinterDeviceRT50.h"

#include <cstring>

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

int MediaIdForPageSize_RT50(const char* pageSize)
{
    if (pageSize == nullptr)
        return kUnknownMediaId;
    for (const DeviceMediaTableRow* row = gMediaInfo_RT50; row->mediaId != -1; ++row) {
        if (std::strcmp(row->pageSize, pageSize) == 0)
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
