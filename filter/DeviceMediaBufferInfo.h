// The media record: geometry of a job's media, shared by the device object,
// the model tables and the page image buffer.
#pragma once

#include <cstdint>

struct DeviceMediaBufferInfo {
    // A row of the model's media table, copied whole.
    int32_t mediaId;          // media size code; -1 = not set
    int32_t multicutCode;     // value sent with IMAGE/MULTICUT
    double width;             // inches
    double height;            // inches
    int32_t tableResolution;  // dots per inch of the dot counts below
    int32_t pageWidth;        // printable page, dots
    int32_t pageHeight;
    int32_t borderMarginX;    // margins used when a border is asked for
    int32_t borderMarginY;
    int32_t imageGap;         // gap between two images of one sheet
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t imagesPerSheet;
    int32_t twoInchCut;       // 1 = the media may be cut into 2-inch strips
    double minFirmware;       // lowest firmware version the row is valid for

    // Computed by DeviceEntry::UpdateMediaInfo for the job's resolution.
    int32_t headWidth;        // plane width in dots
    int64_t resolutionX;      // 300
    int64_t resolutionY;      // 300 or 600
    int32_t planePageWidth;
    int32_t planeHeight;      // rows of each plane
    int32_t planeImageWidth;
    int32_t planeImageHeight;
    int32_t planeImageGap;
    int32_t planeImagesPerSheet;
};

// A media record with media id -1 and every other field 0.
inline DeviceMediaBufferInfo EmptyMediaInfo()
{
    DeviceMediaBufferInfo info{};
    info.mediaId = -1;
    return info;
}
