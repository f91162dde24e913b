// What a photo file is and what decoding it would cost, read from its bytes
// before any decoder sees them: its format by its signature, the scans of a
// JPEG, and the pixels a HEIF's primary image decodes to (a grid's tiles
// counted, not the size it states). Every reader here is bounded by the
// bytes it is given and reads each byte at most a few times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantora_photo {

enum class PhotoFormat { Unknown, Jpeg, Png, Tiff, Webp, Heif, Gif, Pdf };

// The format the file's first bytes show; Unknown when none of the above.
PhotoFormat SniffPhotoFormat(const unsigned char* data, size_t length);

// The MIME type of a HEIF file by its brands: image/heic (HEVC-coded),
// image/avif (AV1-coded) or image/heif (another coding); null when the
// bytes are no HEIF (as SniffPhotoFormat tells).
const char* HeifType(const unsigned char* data, size_t length);

// The photo format a MIME type declares (image/jpeg, image/png, image/tiff,
// image/webp, image/heic, image/heif, image/avif, image/gif); Unknown for
// any other type.
PhotoFormat FormatOfType(const char* mimeType);

// The format's name for messages ("JPEG", "a PDF", ...): FormatName gives
// the bare name, ArticleName the name with "a"/"an".
const char* FormatName(PhotoFormat format);
const char* ArticleName(PhotoFormat format);

// Most scans a JPEG may have: a progressive photo has about ten.
inline constexpr int kMaxJpegScans = 100;

// The number of scans (start-of-scan markers) of the JPEG in `data`,
// counted up to limit + 1 (then it stops reading).
int CountJpegScans(const unsigned char* data, size_t length, int limit);

// The pixels the primary image of the HEIF in `data` decodes to: its stated
// size, or for a grid the sum of its tiles' sizes when that is larger.
// False (with *problem) when the container cannot be read that far or its
// primary image is an overlay, whose canvas is not judged here.
bool HeifDecodedPixels(const unsigned char* data, size_t length, int64_t* pixels, std::string* problem);

}  // namespace vantora_photo
