#include "PhotoChecks.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace vantora_photo {

namespace {

bool StartsWith(const unsigned char* data, size_t length, size_t at, const char* text, size_t size)
{
    return length >= at + size && std::memcmp(data + at, text, size) == 0;
}

// HEIF's brands: HEVC-coded (heic, heix, heim, heis, hevc, hevx), the
// general image brands (mif1, msf1, mif2) and AV1-coded (avif, avis).
bool IsHeifBrand(const unsigned char* brand)
{
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                          "mif1", "msf1", "mif2", "avif", "avis"};
    for (const char* known : kBrands) {
        if (std::memcmp(brand, known, 4) == 0)
            return true;
    }
    return false;
}

// The ftyp box at the start: its major brand or one of its compatible brands.
bool IsHeif(const unsigned char* data, size_t length)
{
    if (!StartsWith(data, length, 4, "ftyp", 4) || length < 12)
        return false;
    const uint32_t size = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    if (IsHeifBrand(data + 8))
        return true;
    const size_t end = std::min<size_t>(size, length);
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (IsHeifBrand(data + at))
            return true;
    }
    return false;
}

// Whether `brand` is among `brands`, four bytes each.
bool BrandIn(const unsigned char* brand, const char* const* brands, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (std::memcmp(brand, brands[i], 4) == 0)
            return true;
    }
    return false;
}

// Reads big-endian fields from a bounded range; once a read goes past the
// end, every later read gives 0 and ok() stays false.
class Reader {
public:
    Reader(const unsigned char* begin, const unsigned char* end) : m_at(begin), m_end(end) {}
    uint32_t Take(int bytes)
    {
        if (!m_ok || m_end - m_at < bytes) {
            m_ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | *m_at++;
        return value;
    }
    bool ok() const { return m_ok; }
    bool AtEnd() const { return m_at >= m_end; }
    const unsigned char* at() const { return m_at; }
    const unsigned char* end() const { return m_end; }

private:
    const unsigned char* m_at;
    const unsigned char* m_end;
    bool m_ok = true;
};

// One box of an ISO media file: its type and its contents' range.
struct Box {
    char type[5] = {};
    const unsigned char* body = nullptr;
    const unsigned char* end = nullptr;
};

// The next box in `[*at, end)`; false at the end or on a malformed size.
bool NextBox(const unsigned char** at, const unsigned char* end, Box* box)
{
    const size_t left = static_cast<size_t>(end - *at);
    if (left < 8)
        return false;
    const unsigned char* p = *at;
    uint64_t size = (uint64_t{p[0]} << 24) | (uint64_t{p[1]} << 16) | (uint64_t{p[2]} << 8) | p[3];
    std::memcpy(box->type, p + 4, 4);
    size_t header = 8;
    if (size == 1) {
        if (left < 16)
            return false;
        size = 0;
        for (int i = 8; i < 16; ++i)
            size = (size << 8) | p[i];
        header = 16;
    } else if (size == 0) {
        size = left;
    }
    if (size < header || size > left)
        return false;
    box->body = p + header;
    box->end = p + size;
    *at = p + size;
    return true;
}

bool Is(const Box& box, const char* type)
{
    return std::memcmp(box.type, type, 4) == 0;
}

// Width times height, saturating far above any limit.
int64_t Area(uint32_t width, uint32_t height)
{
    constexpr uint32_t kSide = 1u << 24;
    return int64_t{std::min(width, kSide)} * std::min(height, kSide);
}

// What the meta box tells of the images.
struct HeifItems {
    uint32_t primary = 0;
    bool hasPrimary = false;
    std::unordered_map<uint32_t, uint32_t> types;            // item -> its type
    std::vector<uint32_t> primaryTiles;                      // the primary's dimg references
    std::vector<int64_t> propertyArea;                       // ipco index - 1 -> ispe area (-1 other)
    std::unordered_map<uint32_t, std::vector<uint32_t>> properties;  // item -> ipco indices
};

void ReadItemInfo(const Box& iinf, HeifItems* items)
{
    Reader reader(iinf.body, iinf.end);
    const uint32_t version = reader.Take(1);
    reader.Take(3);
    reader.Take(version == 0 ? 2 : 4);
    const unsigned char* at = reader.at();
    Box infe;
    while (reader.ok() && NextBox(&at, iinf.end, &infe)) {
        if (!Is(infe, "infe"))
            continue;
        Reader entry(infe.body, infe.end);
        const uint32_t entryVersion = entry.Take(1);
        entry.Take(3);
        if (entryVersion < 2)
            continue;
        const uint32_t id = entry.Take(entryVersion == 2 ? 2 : 4);
        entry.Take(2);
        const uint32_t type = entry.Take(4);
        if (entry.ok())
            items->types[id] = type;
    }
}

void ReadReferences(const Box& iref, HeifItems* items)
{
    Reader reader(iref.body, iref.end);
    const int idBytes = reader.Take(1) == 0 ? 2 : 4;
    reader.Take(3);
    const unsigned char* at = reader.at();
    Box reference;
    while (reader.ok() && NextBox(&at, iref.end, &reference)) {
        Reader list(reference.body, reference.end);
        const uint32_t from = list.Take(idBytes);
        const uint32_t count = list.Take(2);
        for (uint32_t i = 0; i < count && list.ok(); ++i) {
            const uint32_t to = list.Take(idBytes);
            if (list.ok() && Is(reference, "dimg") && items->hasPrimary && from == items->primary)
                items->primaryTiles.push_back(to);
        }
    }
}

void ReadProperties(const Box& iprp, HeifItems* items)
{
    const unsigned char* at = iprp.body;
    Box part;
    while (NextBox(&at, iprp.end, &part)) {
        if (Is(part, "ipco")) {
            const unsigned char* propertyAt = part.body;
            Box property;
            while (NextBox(&propertyAt, part.end, &property)) {
                Reader size(property.body, property.end);
                size.Take(4);
                const uint32_t width = size.Take(4);
                const uint32_t height = size.Take(4);
                items->propertyArea.push_back(Is(property, "ispe") && size.ok() ? Area(width, height) : -1);
            }
        } else if (Is(part, "ipma")) {
            Reader reader(part.body, part.end);
            const uint32_t version = reader.Take(1);
            const uint32_t flags = reader.Take(3);
            const uint32_t entries = reader.Take(4);
            for (uint32_t i = 0; i < entries && reader.ok(); ++i) {
                const uint32_t item = reader.Take(version < 1 ? 2 : 4);
                const uint32_t count = reader.Take(1);
                for (uint32_t j = 0; j < count && reader.ok(); ++j) {
                    const uint32_t index = (flags & 1) != 0 ? reader.Take(2) & 0x7fff : reader.Take(1) & 0x7f;
                    if (reader.ok())
                        items->properties[item].push_back(index);
                }
            }
        }
    }
}

// The area of the item's ispe property; 0 when it has none.
int64_t ItemArea(const HeifItems& items, uint32_t item)
{
    const auto found = items.properties.find(item);
    if (found == items.properties.end())
        return 0;
    for (uint32_t index : found->second) {
        if (index >= 1 && index <= items.propertyArea.size() && items.propertyArea[index - 1] >= 0)
            return items.propertyArea[index - 1];
    }
    return 0;
}

constexpr uint32_t FourCc(const char (&text)[5])
{
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

}  // namespace

PhotoFormat SniffPhotoFormat(const unsigned char* data, size_t length)
{
    if (StartsWith(data, length, 0, "\xff\xd8\xff", 3))
        return PhotoFormat::Jpeg;
    if (StartsWith(data, length, 0, "\x89PNG\r\n\x1a\n", 8))
        return PhotoFormat::Png;
    if (StartsWith(data, length, 0, "II*\0", 4) || StartsWith(data, length, 0, "MM\0*", 4) ||
        StartsWith(data, length, 0, "II+\0", 4) || StartsWith(data, length, 0, "MM\0+", 4))
        return PhotoFormat::Tiff;
    if (StartsWith(data, length, 0, "RIFF", 4) && StartsWith(data, length, 8, "WEBP", 4))
        return PhotoFormat::Webp;
    if (StartsWith(data, length, 0, "GIF87a", 6) || StartsWith(data, length, 0, "GIF89a", 6))
        return PhotoFormat::Gif;
    if (IsHeif(data, length))
        return PhotoFormat::Heif;
    if (StartsWith(data, length, 0, "%PDF-", 5))
        return PhotoFormat::Pdf;
    return PhotoFormat::Unknown;
}

const char* HeifType(const unsigned char* data, size_t length)
{
    // Only for bytes the front end takes as HEIF: a file that also starts
    // with another signature is that format to it.
    if (SniffPhotoFormat(data, length) != PhotoFormat::Heif)
        return nullptr;
    static const char* const kHevc[] = {"heic", "heix", "heim", "heis", "hevc", "hevx"};
    static const char* const kAv1[] = {"avif", "avis"};
    // The major brand decides; a general one (mif1, ...) is told by the
    // compatible brands after it.
    auto typeOf = [&](const unsigned char* brand) -> const char* {
        return BrandIn(brand, kHevc, 6) ? "image/heic" : BrandIn(brand, kAv1, 2) ? "image/avif" : nullptr;
    };
    if (const char* type = typeOf(data + 8))
        return type;
    const uint32_t size = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    const size_t end = std::min<size_t>(size, length);
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (const char* type = typeOf(data + at))
            return type;
    }
    return "image/heif";
}

PhotoFormat FormatOfType(const char* mimeType)
{
    static const struct {
        const char* type;
        PhotoFormat format;
    } kTypes[] = {
        {"image/jpeg", PhotoFormat::Jpeg}, {"image/png", PhotoFormat::Png},   {"image/tiff", PhotoFormat::Tiff},
        {"image/webp", PhotoFormat::Webp}, {"image/heic", PhotoFormat::Heif}, {"image/heif", PhotoFormat::Heif},
        {"image/avif", PhotoFormat::Heif}, {"image/gif", PhotoFormat::Gif},
    };
    for (const auto& known : kTypes) {
        if (mimeType != nullptr && std::strcmp(mimeType, known.type) == 0)
            return known.format;
    }
    return PhotoFormat::Unknown;
}

const char* FormatName(PhotoFormat format)
{
    switch (format) {
    case PhotoFormat::Jpeg: return "JPEG";
    case PhotoFormat::Png: return "PNG";
    case PhotoFormat::Tiff: return "TIFF";
    case PhotoFormat::Webp: return "WebP";
    case PhotoFormat::Heif: return "HEIF";
    case PhotoFormat::Gif: return "GIF";
    case PhotoFormat::Pdf: return "PDF";
    case PhotoFormat::Unknown: break;
    }
    return "unknown";
}

const char* ArticleName(PhotoFormat format)
{
    switch (format) {
    case PhotoFormat::Jpeg: return "a JPEG";
    case PhotoFormat::Png: return "a PNG";
    case PhotoFormat::Tiff: return "a TIFF";
    case PhotoFormat::Webp: return "a WebP";
    case PhotoFormat::Heif: return "a HEIF";
    case PhotoFormat::Gif: return "a GIF";
    case PhotoFormat::Pdf: return "a PDF";
    case PhotoFormat::Unknown: break;
    }
    return "an unknown";
}

int CountJpegScans(const unsigned char* data, size_t length, int limit)
{
    if (length < 2 || data[0] != 0xff || data[1] != 0xd8)
        return 0;
    int scans = 0;
    size_t at = 2;
    while (at + 1 < length) {
        if (data[at] != 0xff || data[at + 1] == 0xff) {
            ++at;   // stray bytes and fill before a marker
            continue;
        }
        const unsigned char marker = data[at + 1];
        at += 2;
        if (marker == 0xd9)
            break;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue;   // no length follows
        if (at + 2 > length)
            break;
        const size_t segment = (size_t{data[at]} << 8) | data[at + 1];
        if (segment < 2)
            break;
        at += segment;
        if (marker != 0xda)
            continue;
        if (++scans > limit)
            return scans;
        // The scan's coded data runs to the next marker that is neither a
        // stuffed zero nor a restart.
        while (at + 1 < length) {
            const void* next = std::memchr(data + at, 0xff, length - at);
            if (next == nullptr) {
                at = length;
                break;
            }
            at = static_cast<size_t>(static_cast<const unsigned char*>(next) - data);
            if (at + 1 >= length)
                break;
            const unsigned char after = data[at + 1];
            if (after == 0xff) {
                ++at;
                continue;
            }
            if (after == 0x00 || (after >= 0xd0 && after <= 0xd7)) {
                at += 2;
                continue;
            }
            break;
        }
    }
    return scans;
}

bool HeifDecodedPixels(const unsigned char* data, size_t length, int64_t* pixels, std::string* problem)
{
    *pixels = 0;
    const unsigned char* at = data;
    const unsigned char* end = data + length;
    Box box;
    Box meta;
    bool found = false;
    while (!found && NextBox(&at, end, &box)) {
        if (Is(box, "meta")) {
            meta = box;
            found = true;
        }
    }
    if (!found || meta.end - meta.body < 4) {
        *problem = "its image index (meta box) cannot be read";
        return false;
    }
    HeifItems items;
    // The primary item first: the references are kept for it alone.
    const unsigned char* inner = meta.body + 4;
    while (NextBox(&inner, meta.end, &box)) {
        if (Is(box, "pitm")) {
            Reader reader(box.body, box.end);
            const uint32_t version = reader.Take(1);
            reader.Take(3);
            items.primary = reader.Take(version == 0 ? 2 : 4);
            items.hasPrimary = reader.ok();
        }
    }
    if (!items.hasPrimary) {
        *problem = "it names no primary image";
        return false;
    }
    inner = meta.body + 4;
    while (NextBox(&inner, meta.end, &box)) {
        if (Is(box, "iinf"))
            ReadItemInfo(box, &items);
        else if (Is(box, "iref"))
            ReadReferences(box, &items);
        else if (Is(box, "iprp"))
            ReadProperties(box, &items);
    }
    const auto type = items.types.find(items.primary);
    if (type != items.types.end() && type->second == FourCc("iovl")) {
        *problem = "its image is an overlay of several pictures, which is not printed";
        return false;
    }
    int64_t area = ItemArea(items, items.primary);
    if (type != items.types.end() && type->second == FourCc("grid")) {
        int64_t tiles = 0;
        for (uint32_t tile : items.primaryTiles)
            tiles = std::min<int64_t>(tiles + ItemArea(items, tile), int64_t{1} << 60);
        area = std::max(area, tiles);
    }
    *pixels = area;
    return true;
}

}  // namespace vantora_photo
