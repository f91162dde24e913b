// The page image buffer: processes a raster page into a 24-bit page image,
// splits page images into yellow, magenta and cyan planes kept in three image
// slots of a sheet, and writes one IMAGE packet per plane.
#pragma once

#include "DeviceMediaBufferInfo.h"
#include "HdxImgLib.h"
#include "PrintSettings.h"

class DeviceEntry;

class PageImageBuffer {
public:
    enum {
        kSlots = 3,
        kPlanesPerSlot = 3,     // yellow, magenta, cyan
        kBorderStripRows = 1000,
    };

    PageImageBuffer();
    virtual ~PageImageBuffer();
    PageImageBuffer(const PageImageBuffer&) = delete;
    PageImageBuffer& operator=(const PageImageBuffer&) = delete;

    // Takes the media record when it differs from the one held. Always 0.
    int Alloc(DeviceMediaBufferInfo media);

    // Takes over `pixels` (24-bit, bottom-up, rows padded to 4 bytes, from
    // malloc/calloc; released here), processes them with the job's
    // `settings` for the media record held, and returns a newly allocated
    // processed page image owned by the caller (release with IL_FreeBitmap
    // and free).
    // The image has no pixels when the page is empty or any processing step
    // failed; null only when even the record could not be allocated.
    _tagBITMAPHANDLE* ColorProcess(unsigned char* pixels, long width, long height, const PrintSettings& settings);

    // Replaces the planes of `slot` (0..2) by the planes of `image`.
    // Returns 0, or 3 for a bad slot or image, or when separation failed.
    int SetImageData(int slot, _tagBITMAPHANDLE* image);

    // Writes YPLANE, MPLANE and CPLANE of one sheet through the device.
    // Returns 0, or 3 when the sheet has no usable geometry, memory ran out,
    // or a packet could not be written.
    int Send(DeviceEntry* device, const DeviceMediaBufferInfo& sheet);

    // Release the planes of every slot; always 0.
    int Clear();
    int Free();

    // The plane of `slot` for colour 0 yellow, 1 magenta, 2 cyan.
    const _tagBITMAPHANDLE& Plane(int slot, int colour) const { return m_planes[slot * kPlanesPerSlot + colour]; }

    DeviceMediaBufferInfo m_media;
    _tagBITMAPHANDLE m_planes[kSlots * kPlanesPerSlot];
};
