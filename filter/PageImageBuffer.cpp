#include "PageImageBuffer.h"

#include "CommandPackets.h"
#include "DeviceEntry.h"
#include "PlaneBitmap.h"
#include "SettingsLookup.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// Bytes per row of a 24-bit image `width` pixels wide.
size_t Stride24(long width)
{
    return ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
}

// A page image whose pixels may belong to the caller (`own`, from malloc)
// rather than to the record.
struct PageImage {
    _tagBITMAPHANDLE bitmap{};
    unsigned char* own = nullptr;

    void Release()
    {
        IL_FreeBitmap(&bitmap);
        std::free(own);
        own = nullptr;
        std::memset(&bitmap, 0, sizeof bitmap);
    }

    // Describes `pixels` (w x h, 24-bit, byte order 1), taking them over.
    bool Wrap(unsigned char* pixels, long w, long h)
    {
        own = pixels;
        const int64_t size = static_cast<int64_t>(Stride24(w)) * h;
        return IL_CreateBitmap(&bitmap, kBitmapStructSize, kBitmapKind, static_cast<int>(w), static_cast<int>(h), 24, 1,
                               nullptr, 4, pixels, size) == IL_SUCCESS;
    }

    // Resamples to w x h; once the library holds the result in its own block,
    // the caller's pixels are no longer needed.
    bool Resize(int w, int h)
    {
        if (IL_SizeBitmap(&bitmap, w, h, 4) != IL_SUCCESS)
            return false;
        if (own != nullptr && bitmap.pData != own) {
            std::free(own);
            own = nullptr;
        }
        return true;
    }
};

// Turns the image by 90 degrees: the pixel at column x of stored row y goes
// to column h - 1 - y of stored row x. Returns the new buffer or null.
unsigned char* Rotate(const unsigned char* pixels, long w, long h)
{
    const size_t inStride = Stride24(w);
    const size_t outStride = Stride24(h);
    unsigned char* out = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(w) * outStride + 1, 1));
    if (out == nullptr)
        return nullptr;
    for (long y = 0; y < h; ++y) {
        for (long x = 0; x < w; ++x) {
            std::memcpy(out + static_cast<size_t>(x) * outStride + static_cast<size_t>(h - 1 - y) * 3,
                        pixels + static_cast<size_t>(y) * inStride + static_cast<size_t>(x) * 3, 3);
        }
    }
    return out;
}

// Shrinks the page by the border factor into a white image of the scaled
// size, strip by strip. Leaves the page unchanged when the media record has
// no usable geometry or the scaled page would be empty. Returns false when
// memory ran out (the page is then unchanged or released).
bool ApplyBorder(PageImage& page, const DeviceMediaBufferInfo& media, int64_t resolutionY)
{
    const int pageWidth = media.pageWidth;
    int pageHeight = media.pageHeight;
    int marginY = media.borderMarginY;
    if (resolutionY == 600) {
        pageHeight *= 2;
        marginY *= 2;
    }
    // No page size, no border: the factors would be 0 / 0.
    if (pageWidth <= 0 || pageHeight <= 0)
        return true;
    const float fx = static_cast<float>(static_cast<double>(static_cast<float>(pageWidth - 2 * media.borderMarginX)) /
                                        static_cast<double>(static_cast<float>(pageWidth)));
    const float fy = static_cast<float>(static_cast<double>(static_cast<float>(pageHeight - 2 * marginY)) /
                                        static_cast<double>(static_cast<float>(pageHeight)));
    const float m = fx <= fy ? fx : fy;
    if (!(m > 0.0f))
        return true;

    const int w = page.bitmap.width;
    const int h = page.bitmap.height;
    const int newWidth = static_cast<int>(static_cast<float>(w) * m);
    const int newHeight = static_cast<int>(static_cast<float>(h) * m);
    if (newWidth <= 0 || newHeight <= 0)
        return true;

    const size_t newStride = Stride24(newWidth);
    unsigned char* white = static_cast<unsigned char*>(std::malloc(newStride * static_cast<size_t>(newHeight)));
    if (white == nullptr)
        return false;
    std::memset(white, 255, newStride * static_cast<size_t>(newHeight));
    PageImage shrunk;
    if (!shrunk.Wrap(white, newWidth, newHeight)) {
        shrunk.Release();
        return false;
    }

    const size_t stride = static_cast<size_t>(page.bitmap.bytesPerRow);
    int filled = 0;
    bool complete = true;
    for (int first = 0; first < h; first += PageImageBuffer::kBorderStripRows) {
        const int rows = h - first < PageImageBuffer::kBorderStripRows ? h - first : PageImageBuffer::kBorderStripRows;
        const int outRows = static_cast<int>(static_cast<float>(rows) * m);
        if (outRows <= 0)
            continue;  // a strip this thin shrinks to nothing
        unsigned char* copy = static_cast<unsigned char*>(std::malloc(stride * static_cast<size_t>(rows)));
        if (copy == nullptr) {
            complete = false;
            break;
        }
        std::memcpy(copy, page.bitmap.pData + stride * static_cast<size_t>(first), stride * static_cast<size_t>(rows));
        PageImage strip;
        if (strip.Wrap(copy, w, rows) && strip.Resize(newWidth, outRows)) {
            const size_t stripStride = static_cast<size_t>(strip.bitmap.bytesPerRow);
            const size_t rowBytes = stripStride < newStride ? stripStride : newStride;
            for (int r = 0; r < outRows && filled < newHeight; ++r, ++filled) {
                std::memcpy(white + newStride * static_cast<size_t>(filled),
                            strip.bitmap.pData + stripStride * static_cast<size_t>(r), rowBytes);
            }
        } else {
            complete = false;
        }
        strip.Release();
        if (!complete)
            break;
    }
    page.Release();
    page = shrunk;
    return complete;
}

// Splits `image` into three planes, runs the palette tables on them and
// merges them into `target`. False when separation or merging failed.
bool SeparateAdjustMerge(_tagBITMAPHANDLE* image, _tagBITMAPHANDLE* target, const int gamma[3],
                         const int brightness[3], const int contrast[3])
{
    _tagBITMAPHANDLE planes[3]{};
    _tagBITMAPHANDLE* planeList[3] = {&planes[0], &planes[1], &planes[2]};
    if (IL_ColorSeparateBitmap(image, planeList, kBitmapStructSize, 0) != IL_SUCCESS) {
        for (auto& plane : planes)
            IL_FreeBitmap(&plane);
        return false;
    }
    if (gamma != nullptr) {
        for (int i = 0; i < 3; ++i)
            IL_GammaCorrectBitmap(&planes[i], static_cast<unsigned int>(gamma[i]));
        for (int i = 0; i < 3; ++i)
            IL_ChangeBitmapIntensity(&planes[i], brightness[i]);
        for (int i = 0; i < 3; ++i)
            IL_ChangeBitmapContrast(&planes[i], contrast[i]);
    }
    const bool merged = IL_ColorMergeBitmap(target, planeList, kBitmapStructSize, 0) == IL_SUCCESS;
    for (auto& plane : planes)
        IL_FreeBitmap(&plane);
    return merged;
}

}  // namespace

PageImageBuffer::PageImageBuffer()
    : m_media(EmptyMediaInfo())
{
    std::memset(m_planes, 0, sizeof m_planes);
}

PageImageBuffer::~PageImageBuffer()
{
    Clear();
}

int PageImageBuffer::Alloc(DeviceMediaBufferInfo media)
{
    if (std::memcmp(&media, &m_media, sizeof media) != 0)
        m_media = media;
    return 0;
}

_tagBITMAPHANDLE* PageImageBuffer::ColorProcess(unsigned char* pixels, long width, long height,
                                                const PrintSettings& settings)
{
    _tagBITMAPHANDLE* result = static_cast<_tagBITMAPHANDLE*>(std::calloc(1, sizeof(_tagBITMAPHANDLE)));
    if (result == nullptr || pixels == nullptr || width <= 0 || height <= 0 || width > 0x7fffffff ||
        height > 0x7fffffff) {
        std::free(pixels);
        return result;
    }

    // A step that fails (memory ran out) leaves the result without pixels:
    // a page half processed must not be printed as if it were the page.
    long w = width;
    long h = height;
    if (settings.paperRotate) {
        unsigned char* turned = Rotate(pixels, w, h);
        std::free(pixels);
        if (turned == nullptr)
            return result;
        pixels = turned;
        const long t = w;
        w = h;
        h = t;
    }

    PageImage page;
    if (!page.Wrap(pixels, w, h)) {
        page.Release();
        return result;
    }

    bool processed = true;
    if (settings.resolutionMode == 2 && w / 2 > 0) {
        processed = page.Resize(static_cast<int>(w / 2), static_cast<int>(h));
    } else if (settings.resolutionMode == 1 && settings.paperRotate && w / 2 > 0) {
        processed = page.Resize(static_cast<int>(w / 2), static_cast<int>(h * 2));
    }

    if (processed && settings.border)
        processed = ApplyBorder(page, m_media, settings.resolutionY);
    if (!processed) {
        page.Release();
        return result;
    }

    static const int kIdentityGamma[3] = {100, 100, 100};
    static const int kZero[3] = {0, 0, 0};
    _tagBITMAPHANDLE merged{};
    bool haveImage;
    if (settings.colorAdjustment)
        haveImage = SeparateAdjustMerge(&page.bitmap, &merged, settings.gamma, settings.brightness, settings.contrast);
    else
        haveImage = SeparateAdjustMerge(&page.bitmap, &merged, kIdentityGamma, kZero, kZero);
    page.Release();
    if (!haveImage) {
        IL_FreeBitmap(&merged);
        return result;
    }

    // The caller gets a record of its own.
    if (IL_SharpenBitmap(&merged, settings.sharpness) != IL_SUCCESS ||
        IL_ChangeBitmapSaturation(&merged, settings.colorAdjustment ? settings.chroma : 0) != IL_SUCCESS ||
        !SeparateAdjustMerge(&merged, result, nullptr, nullptr, nullptr)) {
        IL_FreeBitmap(result);
        std::memset(result, 0, sizeof *result);
    }
    IL_FreeBitmap(&merged);
    return result;
}

int PageImageBuffer::SetImageData(int slot, _tagBITMAPHANDLE* image)
{
    if (slot < 0 || slot >= kSlots)
        return 3;
    _tagBITMAPHANDLE* yellow = &m_planes[slot * kPlanesPerSlot + 0];
    _tagBITMAPHANDLE* magenta = &m_planes[slot * kPlanesPerSlot + 1];
    _tagBITMAPHANDLE* cyan = &m_planes[slot * kPlanesPerSlot + 2];
    for (_tagBITMAPHANDLE* plane : {yellow, magenta, cyan}) {
        IL_FreeBitmap(plane);
        std::memset(plane, 0, sizeof *plane);
    }
    if (image == nullptr || image->pData == nullptr)
        return 3;
    // Byte 0 of a pixel becomes the cyan plane, byte 1 magenta, byte 2 yellow.
    _tagBITMAPHANDLE* planeList[3] = {cyan, magenta, yellow};
    if (IL_ColorSeparateBitmap(image, planeList, kBitmapStructSize, 0) != IL_SUCCESS) {
        for (_tagBITMAPHANDLE* plane : {yellow, magenta, cyan}) {
            IL_FreeBitmap(plane);
            std::memset(plane, 0, sizeof *plane);
        }
        return 3;
    }
    return 0;
}

int PageImageBuffer::Send(DeviceEntry* device, const DeviceMediaBufferInfo& sheet)
{
    if (device == nullptr)
        return 3;
    const int64_t headWidth = sheet.headWidth;
    const int64_t planeHeight = sheet.planeHeight;
    // A sheet without geometry (unknown page size) cannot be printed.
    if (headWidth <= 0 || planeHeight <= 0)
        return 3;
    // One byte per dot, rows padded to 4 bytes.
    const int64_t rowBytes = _PlaneRowBytes(headWidth);
    const int64_t fileSize = _PlaneFileSize(headWidth, planeHeight);
    if (fileSize > kCmdMaxPayload)
        return 3;

    // One packet buffer serves all three planes: only the header's plane name changes.
    const size_t packetSize = static_cast<size_t>(kCmdHeaderSize + fileSize);
    unsigned char* packet = static_cast<unsigned char*>(std::malloc(packetSize));
    if (packet == nullptr)
        return 3;
    unsigned char* file = packet + kCmdHeaderSize;
    if (_EncodePlaneHeader(file, static_cast<int>(headWidth), static_cast<int>(planeHeight), sheet.resolutionX,
                           sheet.resolutionY) != kProtoOk) {
        std::free(packet);
        return 3;
    }
    unsigned char* pixels = file + kPlaneFileHeaderSize;
    std::memset(pixels, 255, static_cast<size_t>(rowBytes * planeHeight));

    // At most three images fit the slots, whatever the sheet record says.
    int images = sheet.planeImagesPerSheet;
    if (images > kSlots)
        images = kSlots;
    const int64_t imageHeight = sheet.planeImageHeight;
    const int64_t pitch = static_cast<int64_t>(sheet.planeImageGap) + m_media.planeHeight;
    static const char* const kNames[kPlanesPerSlot] = {"YPLANE", "MPLANE", "CPLANE"};

    for (int colour = 0; colour < kPlanesPerSlot; ++colour) {
        _FormatCmdHeader(packet, "IMAGE", kNames[colour], static_cast<int>(fileSize));
        for (int k = 0; k < images; ++k) {
            const _tagBITMAPHANDLE& plane = m_planes[k * kPlanesPerSlot + colour];
            if (plane.pData == nullptr || plane.width <= 0 || plane.height <= 0 || plane.bitsPerPixel != 8)
                continue;
            const int64_t rows = imageHeight < plane.height ? imageHeight : plane.height;
            const int64_t top = (imageHeight - rows) / 2;
            const int64_t cols = headWidth < plane.width ? headWidth : plane.width;
            const int64_t left = (headWidth - cols) / 2;
            for (int64_t i = 0; i < rows; ++i) {
                const int64_t target = pitch * k + i + top;
                if (target < 0 || target >= planeHeight)
                    continue;  // outside the plane: never written
                std::memcpy(pixels + target * rowBytes + left,
                            plane.pData + i * static_cast<int64_t>(plane.bytesPerRow), static_cast<size_t>(cols));
            }
        }
        if (device->SetCommand(packet, packetSize) == 0) {
            std::free(packet);
            return 3;
        }
    }
    std::free(packet);
    return 0;
}

int PageImageBuffer::Clear()
{
    for (auto& plane : m_planes) {
        IL_FreeBitmap(&plane);
        std::memset(&plane, 0, sizeof plane);
    }
    return 0;
}

int PageImageBuffer::Free()
{
    return Clear();
}
