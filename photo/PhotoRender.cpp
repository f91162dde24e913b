#include "PhotoRender.h"

#include "PhotoChecks.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <vips/vips.h>

namespace vantora_photo {

namespace {

// The loaders that may run: base classes, so that their file, buffer and
// source variants all count. Every other loader stays blocked.
const char* const kAllowedLoaderClasses[] = {
    "VipsForeignLoadJpeg", "VipsForeignLoadPng", "VipsForeignLoadTiff",
    "VipsForeignLoadWebp", "VipsForeignLoadHeif", "VipsForeignLoadNsgif",
};

// The list of formats for messages.
const char kPhotoFormats[] = "JPEG, PNG, TIFF, WebP, HEIF or GIF";

bool g_started = false;

// libvips' warnings (a damaged file can give hundreds) as at most 20
// DEBUG: lines on standard error, which CUPS keeps in its debug log.
void LogVipsWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer)
{
    static int count = 0;
    if (count < 20 && message != nullptr) {
        ++count;
        std::fprintf(stderr, "DEBUG: libvips: %.200s\n", message);
    }
}
std::string g_startError;

void StartOnce()
{
    if (VIPS_INIT("vantora_rt50_photo") != 0) {
        g_startError = "The image library could not be started";
        return;
    }
    // Untrusted-marked operations (ImageMagick, PDF, SVG, FITS, ...) off,
    // then every loader, then back on only the photo loaders.
    g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                      LogVipsWarning, nullptr);
    vips_block_untrusted_set(TRUE);
    vips_operation_block_set("VipsForeignLoad", TRUE);
    vips_operation_block_set("VipsForeignSave", TRUE);
    for (const char* name : kAllowedLoaderClasses)
        vips_operation_block_set(name, FALSE);
    // One photo at a time per job: no cache of operations between photos,
    // and two threads (the machines this runs on have few cores, and a
    // kiosk prints while it takes the next order). VIPS_CONCURRENCY, when
    // set, wins.
    vips_cache_set_max(0);
    vips_cache_set_max_mem(0);
    const char* concurrency = std::getenv("VIPS_CONCURRENCY");
    if (concurrency == nullptr || concurrency[0] == '\0')
        vips_concurrency_set(2);
    g_started = true;
}

// The first line of libvips' error buffer, printable ASCII only, at most
// 160 characters; clears the buffer.
std::string VipsReason()
{
    const char* buffer = vips_error_buffer();
    std::string text;
    for (const char* c = buffer; c != nullptr && *c != '\0' && *c != '\n' && text.size() < 160; ++c)
        text += (*c >= 0x20 && *c < 0x7f) ? *c : '?';
    vips_error_clear();
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

// Owns one GObject reference.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : m_object(object) {}
    ~Ref() { Reset(nullptr); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return m_object; }
    T** out()
    {
        Reset(nullptr);
        return &m_object;
    }
    void Reset(T* object)
    {
        if (m_object != nullptr)
            g_object_unref(m_object);
        m_object = object;
    }

private:
    T* m_object = nullptr;
};

bool Canceled(const PageRequest& request)
{
    return request.isCanceled != nullptr && request.isCanceled(request.cancelData);
}

// Why a decoder stopped, from libvips' error: a photo that needs more
// memory than the decoder may have is too large, anything else damaged.
std::string DamagedReason()
{
    const std::string text = VipsReason();
    if (text.find("out of memory") != std::string::npos || text.find("memory allocation") != std::string::npos)
        return "The photo is too large: decoding it needs more memory than a photo may have";
    return "The photo is damaged: " + text;
}

// Reads a file or pipe to its end into `data`, at most kMaxPhotoBytes. Returns 0,
// EFBIG when the photo is larger, ECANCELED when the job is cancelled
// (a cancel's signal interrupts the read), or an errno value.
int ReadWhole(int fd, const PageRequest& request, std::vector<unsigned char>* data)
{
    unsigned char chunk[65536];
    for (;;) {
        if (Canceled(request))
            return ECANCELED;
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        if (static_cast<int64_t>(data->size()) + got > kMaxPhotoBytes)
            return EFBIG;
        data->insert(data->end(), chunk, chunk + got);
    }
}

// The photo as a libvips source over its bytes, held in `data` (the checks
// before decoding read them). Null after *reason.
VipsSource* OpenSource(int fd, const PageRequest& request, std::vector<unsigned char>* data, std::string* reason)
{
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        *reason = std::string("The photo cannot be read: ") + std::strerror(errno);
        return nullptr;
    }
    char size[64];
    if (S_ISREG(info.st_mode)) {
        if (info.st_size > kMaxPhotoBytes) {
            std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(info.st_size) / 1e6);
            *reason = std::string("The photo file is too large (") + size + ", at most " +
                      std::to_string(kMaxPhotoBytes >> 20) + " MiB)";
            return nullptr;
        }
        data->reserve(static_cast<size_t>(info.st_size));
    }
    const int error = ReadWhole(fd, request, data);
    if (error == EFBIG) {
        *reason = "The photo file is too large (more than " + std::to_string(kMaxPhotoBytes >> 20) + " MiB)";
        return nullptr;
    }
    if (error == ECANCELED)
        return nullptr;
    if (error != 0) {
        *reason = std::string("The photo cannot be read: ") + std::strerror(error);
        return nullptr;
    }
    VipsSource* source = vips_source_new_from_memory(data->data(), data->size());
    if (source == nullptr)
        *reason = "The photo cannot be read: " + VipsReason();
    return source;
}

// Opens the photo with the one loader of its format: the header only
// until its pixels are asked for, sequential access, a damaged file
// refused instead of padded with grey; a JPEG shrunk by `shrink` while it
// loads. Null after a libvips error.
VipsImage* LoadAs(PhotoFormat format, VipsSource* source, int shrink)
{
    VipsImage* image = nullptr;
    const VipsAccess access = VIPS_ACCESS_SEQUENTIAL;
    const VipsFailOn failOn = VIPS_FAIL_ON_ERROR;
    int result = -1;
    switch (format) {
    case PhotoFormat::Jpeg:
        result = vips_jpegload_source(source, &image, "access", access, "fail_on", failOn, "shrink", shrink, nullptr);
        break;
    case PhotoFormat::Png:
        result = vips_pngload_source(source, &image, "access", access, "fail_on", failOn, nullptr);
        break;
    case PhotoFormat::Tiff:
        result = vips_tiffload_source(source, &image, "access", access, "fail_on", failOn, nullptr);
        break;
    case PhotoFormat::Webp:
        result = vips_webpload_source(source, &image, "access", access, "fail_on", failOn, nullptr);
        break;
    case PhotoFormat::Heif:
        result = vips_heifload_source(source, &image, "access", access, "fail_on", failOn, nullptr);
        break;
    case PhotoFormat::Gif:
        result = vips_gifload_source(source, &image, "access", access, "fail_on", failOn, nullptr);
        break;
    case PhotoFormat::Pdf:
    case PhotoFormat::Unknown:
        vips_error("photo", "no loader");
        break;
    }
    return result == 0 ? image : nullptr;
}

// Whether the loader holds the whole decoded picture at once: HEIF, GIF
// and WebP always, JPEG and PNG when progressive or interlaced.
bool DecodesWhole(PhotoFormat format, VipsImage* header)
{
    if (format == PhotoFormat::Heif || format == PhotoFormat::Gif || format == PhotoFormat::Webp)
        return true;
    int interlaced = 0;
    if (vips_image_get_typeof(header, "interlaced") != 0 && vips_image_get_int(header, "interlaced", &interlaced) != 0)
        interlaced = 0;
    return interlaced != 0;
}

// What the header tells before anything is decoded.
struct PhotoFacts {
    int width = 0;   // upright, after the orientation tag
    int height = 0;
    bool hasProfile = false;
    bool cmyk = false;
    PhotoFormat format = PhotoFormat::Unknown;
};

// The photo's format from its bytes, when it is the one the job declared
// (any photo format when it declared none). False after *reason.
bool CheckFormat(const std::vector<unsigned char>& bytes, const char* declaredType, PhotoFormat* format,
                 std::string* reason)
{
    *format = SniffPhotoFormat(bytes.data(), bytes.size());
    const bool photo = *format != PhotoFormat::Unknown && *format != PhotoFormat::Pdf;
    if (declaredType == nullptr || declaredType[0] == '\0') {
        if (!photo)
            *reason = std::string("The file is not a photo this printer takes (") + kPhotoFormats + ")";
        return photo;
    }
    const PhotoFormat declared = FormatOfType(declaredType);
    if (declared == PhotoFormat::Unknown) {
        *reason = std::string("The document's type is not a photo this printer takes (") + kPhotoFormats + ")";
        return false;
    }
    if (!photo) {
        *reason = std::string("The photo was sent as ") + FormatName(declared) + " but is " +
                  (*format == PhotoFormat::Pdf ? "a PDF file"
                                               : std::string("not a photo this printer takes (") + kPhotoFormats + ")");
        return false;
    }
    if (*format != declared) {
        *reason = std::string("The photo was sent as ") + FormatName(declared) + " but is " + ArticleName(*format) +
                  " file";
        return false;
    }
    return true;
}

// What decoding would cost, judged from the bytes: a JPEG's scans (each
// one a pass over the whole picture) and the pixels a HEIF decodes to.
// False after *reason.
bool CheckCost(PhotoFormat format, const std::vector<unsigned char>& bytes, std::string* reason)
{
    if (format == PhotoFormat::Jpeg && CountJpegScans(bytes.data(), bytes.size(), kMaxJpegScans) > kMaxJpegScans) {
        *reason = "The photo has too many scans (more than " + std::to_string(kMaxJpegScans) + ")";
        return false;
    }
    if (format != PhotoFormat::Heif)
        return true;
    int64_t pixels = 0;
    std::string problem;
    if (!HeifDecodedPixels(bytes.data(), bytes.size(), &pixels, &problem)) {
        *reason = "The photo cannot be printed: " + problem;
        return false;
    }
    if (pixels > kMaxWholePhotoPixels) {
        *reason = "The photo is too large (" + std::to_string((pixels + 500'000) / 1'000'000) +
                  " megapixels when decoded, at most " + std::to_string(kMaxWholePhotoPixels / 1'000'000) +
                  " megapixels for this kind of file)";
        return false;
    }
    return true;
}

// Checks the photo's header against the limits. False after *reason.
bool ReadFacts(VipsSource* source, const std::vector<unsigned char>& bytes, const char* declaredType,
               PhotoFacts* facts, std::string* reason)
{
    PhotoFormat format = PhotoFormat::Unknown;
    if (!CheckFormat(bytes, declaredType, &format, reason) || !CheckCost(format, bytes, reason))
        return false;
    Ref<VipsImage> header(LoadAs(format, source, 1));
    if (header.get() == nullptr) {
        *reason = DamagedReason();
        return false;
    }
    VipsImage* image = header.get();
    const int64_t pixels = int64_t{vips_image_get_width(image)} * vips_image_get_height(image);
    const int64_t limit = DecodesWhole(format, image) ? kMaxWholePhotoPixels : kMaxPhotoPixels;
    if (pixels > limit) {
        *reason = "The photo is too large (" + std::to_string(vips_image_get_width(image)) + " x " +
                  std::to_string(vips_image_get_height(image)) + " pixels, at most " +
                  std::to_string(limit / 1'000'000) + " megapixels for this kind of file)";
        return false;
    }
    const bool swap = vips_image_get_orientation_swap(image) != 0;
    facts->width = swap ? vips_image_get_height(image) : vips_image_get_width(image);
    facts->height = swap ? vips_image_get_width(image) : vips_image_get_height(image);
    facts->hasProfile = vips_image_get_typeof(image, VIPS_META_ICC_NAME) != 0;
    facts->cmyk = vips_image_get_interpretation(image) == VIPS_INTERPRETATION_CMYK;
    facts->format = format;
    return facts->width > 0 && facts->height > 0;
}

// Fill or fit for this photo on this page, both in the page's direction.
bool ChooseFill(Scaling scaling, double photoWidth, double photoHeight, int pageWidth, int pageHeight)
{
    if (scaling != Scaling::Auto)
        return scaling == Scaling::Fill;
    const double ratio = (photoWidth / photoHeight) / (static_cast<double>(pageWidth) / pageHeight);
    return ratio > 0.9 && ratio < 1.1;
}

// The JPEG decoder's shrink-on-load factor (1, 2, 4 or 8) for a photo that
// is to be scaled by `scale`: the largest that still decodes at least the
// size needed. (libvips' own thumbnail keeps a factor of two in hand for
// sharpness and so decodes a 12-megapixel photo at full size for a 4x6
// page; the printer's 300 dpi does not need that.)
int JpegShrink(double scale)
{
    int shrink = 1;
    while (shrink < 8 && scale * shrink * 2 <= 1.0)
        shrink *= 2;
    return shrink;
}

// Asks the job for a cancel every 20 ms while the page is computed, and
// stops the computation once it says so: libvips checks the image's kill
// flag before every strip. (Its progress signal alone comes too seldom: a
// whole 4x6 page can be one signal.)
class CancelWatch {
public:
    CancelWatch(const PageRequest& request, VipsImage* image) : m_request(request), m_image(image)
    {
        if (request.isCanceled != nullptr)
            m_thread = std::thread([this] { Watch(); });
    }
    ~CancelWatch() { Stop(); }
    CancelWatch(const CancelWatch&) = delete;
    CancelWatch& operator=(const CancelWatch&) = delete;

    // Ends the watch; true when it stopped the computation.
    bool Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_canceled;
    }

private:
    void Watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done) {
            if (m_request.isCanceled(m_request.cancelData)) {
                m_canceled = true;
                vips_image_set_kill(m_image, TRUE);
                return;
            }
            m_wake.wait_for(lock, std::chrono::milliseconds(20));
        }
    }

    const PageRequest& m_request;
    VipsImage* m_image;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_canceled = false;
    std::thread m_thread;
};

// The pipeline from the decoded, shrunk photo to the page's box of
// width x height: 8-bit sRGB on white, grey when asked, cut or padded to
// the box. Null after libvips reported an error.
VipsImage* ToBox(VipsImage* photo, const PageRequest& request, int width, int height, Ref<VipsImage> (&steps)[5])
{
    VipsImage* image = photo;
    if (vips_colourspace(image, steps[0].out(), VIPS_INTERPRETATION_sRGB, nullptr) != 0)
        return nullptr;
    image = steps[0].get();
    if (vips_image_hasalpha(image)) {
        VipsArrayDouble* white = vips_array_double_newv(3, 255.0, 255.0, 255.0);
        const int result = vips_flatten(image, steps[1].out(), "background", white, nullptr);
        vips_area_unref(VIPS_AREA(white));
        if (result != 0)
            return nullptr;
        image = steps[1].get();
    }
    if (request.monochrome) {
        if (vips_colourspace(image, steps[2].out(), VIPS_INTERPRETATION_B_W, nullptr) != 0)
            return nullptr;
        VipsImage* grey[3] = {steps[2].get(), steps[2].get(), steps[2].get()};
        if (vips_bandjoin(grey, steps[3].out(), 3, nullptr) != 0)
            return nullptr;
        image = steps[3].get();
    } else if (vips_image_get_bands(image) != 3) {
        if (vips_extract_band(image, steps[3].out(), 0, "n", 3, nullptr) != 0)
            return nullptr;
        image = steps[3].get();
    }
    if (vips_cast_uchar(image, steps[4].out(), nullptr) != 0)
        return nullptr;
    image = steps[4].get();
    VipsImage* box = nullptr;
    if (vips_gravity(image, &box, VIPS_COMPASS_DIRECTION_CENTRE, width, height, "extend", VIPS_EXTEND_WHITE,
                     nullptr) != 0)
        return nullptr;
    return box;
}

// The page being written: bottom-up rows of `rowBytes` bytes, `height`
// rows. A turned box is laid on the page a quarter anticlockwise: the box's
// column c becomes the page's stored row c, its row r the page's column r.
struct PageRows {
    unsigned char* pixels;
    size_t rowBytes;
    int width;
    int height;
    bool turn;
};

// libvips' sink: copies a computed strip of the box into the page.
int CopyRows(VipsRegion* region, VipsRect* area, void* data)
{
    const PageRows* page = static_cast<const PageRows*>(data);
    const int boxWidth = page->turn ? page->height : page->width;
    const int boxHeight = page->turn ? page->width : page->height;
    if (area->left < 0 || area->top < 0 || area->left + area->width > boxWidth ||
        area->top + area->height > boxHeight)
        return -1;
    for (int y = area->top; y < area->top + area->height; ++y) {
        const unsigned char* line = VIPS_REGION_ADDR(region, area->left, y);
        if (!page->turn) {
            unsigned char* row = page->pixels + static_cast<size_t>(page->height - 1 - y) * page->rowBytes;
            std::memcpy(row + static_cast<size_t>(area->left) * 3, line, static_cast<size_t>(area->width) * 3);
            continue;
        }
        unsigned char* dot = page->pixels + static_cast<size_t>(area->left) * page->rowBytes + static_cast<size_t>(y) * 3;
        for (int x = 0; x < area->width; ++x, dot += page->rowBytes)
            std::memcpy(dot, line + static_cast<size_t>(x) * 3, 3);
    }
    return 0;
}

}  // namespace

size_t PageRowBytes(int width)
{
    return ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
}

bool StartPhotoDecoding(std::string* reason)
{
    static std::once_flag once;
    std::call_once(once, StartOnce);
    if (!g_started && reason != nullptr)
        *reason = g_startError;
    return g_started;
}

RenderResult RenderPhoto(int fd, const PageRequest& request, RenderedPage* page, std::string* reason)
{
    *page = RenderedPage{};
    if (request.width <= 0 || request.height <= 0) {
        *reason = "The page has no size";
        return RenderResult::Refused;
    }
    if (!StartPhotoDecoding(reason))
        return RenderResult::Refused;

    std::vector<unsigned char> piped;
    Ref<VipsSource> source(OpenSource(fd, request, &piped, reason));
    if (source.get() == nullptr)
        return Canceled(request) ? RenderResult::Canceled : RenderResult::Refused;
    PhotoFacts facts;
    if (!ReadFacts(source.get(), piped, request.declaredType, &facts, reason))
        return RenderResult::Refused;
    if (Canceled(request))
        return RenderResult::Canceled;

    // A landscape photo on a portrait page (or the other way round) is
    // shrunk into the page's box turned, then laid onto the page turned.
    const bool turn = (facts.width > facts.height && request.width < request.height) ||
                      (facts.width < facts.height && request.width > request.height);
    const int boxWidth = turn ? request.height : request.width;
    const int boxHeight = turn ? request.width : request.height;
    // Filling keeps at least a quarter of the photo's width and height: a
    // panorama or a strip is fitted whole instead of cut to a sliver.
    const double scaleX = static_cast<double>(boxWidth) / facts.width;
    const double scaleY = static_cast<double>(boxHeight) / facts.height;
    const bool fill = ChooseFill(request.scaling, turn ? facts.height : facts.width,
                                 turn ? facts.width : facts.height, request.width, request.height) &&
                      std::max(scaleX, scaleY) <= 4 * std::min(scaleX, scaleY);

    // Shrink-on-load for JPEG; then the orientation tag, the colour profile
    // to sRGB (an untagged photo is taken as sRGB as it is) and the scaling.
    const double scale = fill ? std::max(scaleX, scaleY) : std::min(scaleX, scaleY);
    Ref<VipsImage> loaded(LoadAs(facts.format, source.get(), facts.format == PhotoFormat::Jpeg ? JpegShrink(scale) : 1));
    Ref<VipsImage> photo;
    // Filling, the photo is scaled to cover the box and the page's gravity
    // below cuts it: libvips' own centre crop would decode the whole photo
    // before the first strip of the page, out of reach of a cancel.
    const int width = fill ? static_cast<int>(std::ceil(facts.width * scale - 0.01)) : boxWidth;
    const int height = fill ? static_cast<int>(std::ceil(facts.height * scale - 0.01)) : boxHeight;
    const VipsSize size = fill ? VIPS_SIZE_FORCE : VIPS_SIZE_BOTH;
    const int shrunk = loaded.get() == nullptr ? -1
        : facts.hasProfile || facts.cmyk
        ? vips_thumbnail_image(loaded.get(), photo.out(), width, "height", height, "size", size, "export_profile",
                               "srgb", "intent", VIPS_INTENT_RELATIVE, nullptr)
        : vips_thumbnail_image(loaded.get(), photo.out(), width, "height", height, "size", size, nullptr);
    if (shrunk != 0) {
        *reason = DamagedReason();
        return RenderResult::Refused;
    }
    Ref<VipsImage> steps[5];
    Ref<VipsImage> final(ToBox(photo.get(), request, boxWidth, boxHeight, steps));
    if (final.get() == nullptr) {
        *reason = "The photo could not be converted: " + VipsReason();
        return RenderResult::Refused;
    }

    VipsImage* result = final.get();
    if (vips_image_get_width(result) != boxWidth || vips_image_get_height(result) != boxHeight ||
        vips_image_get_bands(result) != 3 || vips_image_get_format(result) != VIPS_FORMAT_UCHAR) {
        *reason = "The photo could not be converted to the page";
        return RenderResult::Refused;
    }
    PageRows rows{static_cast<unsigned char*>(std::calloc(PageRowBytes(request.width) * request.height + 1, 1)),
                  PageRowBytes(request.width), request.width, request.height, turn};
    if (rows.pixels == nullptr) {
        *reason = "Not enough memory for the page";
        return RenderResult::Refused;
    }

    // Computing the page decodes the photo, strip by strip into the page's
    // rows, while the job is asked for a cancel.
    CancelWatch watch(request, result);
    const int written = vips_sink_disc(result, CopyRows, &rows);
    const bool stopped = watch.Stop();
    if (stopped || Canceled(request)) {
        vips_error_clear();
        std::free(rows.pixels);
        return RenderResult::Canceled;
    }
    if (written != 0) {
        std::free(rows.pixels);
        *reason = DamagedReason();
        return RenderResult::Refused;
    }
    page->pixels = rows.pixels;
    page->width = request.width;
    page->height = request.height;
    return RenderResult::Done;
}

}  // namespace vantora_photo
