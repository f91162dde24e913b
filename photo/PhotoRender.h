// Photos to printable pages: one photo file (JPEG, PNG, TIFF, WebP, HEIF,
// GIF) decoded with libvips into the 24-bit page the raster filter's job
// driver prints, turned upright by its orientation tag, converted from its
// colour profile to sRGB, and filled into (or fitted onto) the page.
//
// Photos come from the network: only the loader of the format the job
// declared runs (a file of another format is refused), files and pictures
// beyond the limits below are refused before decoding, a damaged file is
// refused instead of printed in part, and decoding stops within moments of
// a cancel. The programs decode in a caged child (PhotoCage.h), which calls
// RenderPhoto.
#pragma once

#include <cstdint>
#include <string>

namespace vantora_photo {

// Largest photo file taken, in bytes.
inline constexpr int64_t kMaxPhotoBytes = int64_t{64} << 20;
// Largest photo taken, in pixels, for loaders that decode a strip at a time
// (baseline JPEG shrinks while it loads, PNG, TIFF).
inline constexpr int64_t kMaxPhotoPixels = 100'000'000;
// Largest photo taken from loaders that hold the whole picture while they
// decode (HEIF, its grids by their tiles, GIF, WebP, interlaced PNG,
// progressive JPEG): bounds their memory.
inline constexpr int64_t kMaxWholePhotoPixels = 24'000'000;

// How the photo meets the page.
enum class Scaling {
    Fill,  // covers the page; the overflow is cut off evenly on both sides
           // (a photo that would keep less than a quarter of its width or
           // height, a panorama, is fitted instead)
    Fit,   // the whole photo, centred, with white margins
    Auto,  // Fill when the photo's shape is within 10 % of the page's, else Fit
};

struct PageRequest {
    int width = 0;   // the page in dots
    int height = 0;
    Scaling scaling = Scaling::Fill;
    bool monochrome = false;
    // The MIME type the job declared for the photo (image/jpeg, ...): only
    // that format's loader runs. Null or empty: any photo format.
    const char* declaredType = nullptr;
    // Asked while decoding; true stops it (RenderResult::Canceled). May be null.
    bool (*isCanceled)(void* data) = nullptr;
    void* cancelData = nullptr;
};

// A rendered page: bottom-up rows of 24-bit RGB, each padded to a multiple
// of 4 bytes (PageRowBytes), from malloc; the raster filter's job driver
// takes it over.
struct RenderedPage {
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
};

enum class RenderResult {
    Done,
    Refused,   // not printable: *reason says why, as a sentence without a final stop
    Canceled,
};

// Bytes of one row of a rendered page `width` dots wide.
size_t PageRowBytes(int width);

// Prepares libvips once per process: only the photo loaders enabled, a
// small operation cache, a bounded thread count. False (with *reason) when
// libvips could not start. Safe to call from several threads.
bool StartPhotoDecoding(std::string* reason);

// Renders the photo read from `fd` (a regular file, or a pipe read to its
// end; the descriptor stays open) onto a page of request.width x
// request.height dots. A photo turned landscape while the page is portrait
// (or the other way round) is laid on the page turned a quarter anticlockwise.
RenderResult RenderPhoto(int fd, const PageRequest& request, RenderedPage* page, std::string* reason);

}  // namespace vantora_photo
