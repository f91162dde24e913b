// The RT-50 model: media and overcoat tables, head width, layout rules and
// optional commands.
#pragma once

#include "DeviceEntry.h"

// Leading fields of a media record: one row of a model's media table.
struct DeviceMediaTableRow {
    int32_t mediaId;
    const char* pageSize;  // "PageSize" value
    int32_t multicutCode;
    double width;
    double height;
    int32_t tableResolution;
    int32_t pageWidth;
    int32_t pageHeight;
    int32_t borderMarginX;
    int32_t borderMarginY;
    int32_t imageGap;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t imagesPerSheet;
    int32_t twoInchCut;
    double minFirmware;
};

// Media table; a row with media id -1 ends it.
extern const DeviceMediaTableRow gMediaInfo_RT50[];
// Overcoat table; a row with id -1 ends it.
extern const DeviceOvercoatInfo gOverCoatInfo_RT50[];

// Media id given for a page size that is not in the table.
enum { kUnknownMediaId = 33 };

class DeviceEntry_RT50 : public DeviceEntry {
public:
    ~DeviceEntry_RT50() override;

    int GetHeadWidth() override { return 1408; }
    int SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd) override;
    int SetMediaInfo(DeviceMediaBufferInfo& record, long mediaId, double firmware) override;
    DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& record, int count) override;
    int GetMultiLayoutNum(const char*) override { return 1; }
    int SetOvercoatFinish(unsigned long code, double firmware) override;
    void SetPaperRotate(int, cups_option_t*, ppdfile_s*) override { m_settings.paperRotate = false; }
    int GetRemainHalf(const char*) override { return 0; }
    bool isSupportDecurl() override { return true; }
    bool isSupportSysTime() override { return true; }
};

// The media id of an RT-50 page size: its table name (the PPD's), or any
// other name of the same paper (na_index-4x6_4x6in, 4x6, w288h432, either
// orientation, within 5 points); kUnknownMediaId for any other.
int MediaIdForPageSize_RT50(const char* pageSize);
