// Writes a HEIC photo whose turn is in HEIF's own transform properties
// (irot/imir), as a phone stores a photo taken sideways: the pixels of a
// binary PPM (P6, 8 bits) stored as they are, and the orientation (1-8,
// counted as EXIF counts them) that turns them upright written as the
// item's properties. libvips' heifsave writes no such properties.
//
// make_heif_orientation <in.ppm> <out.heic> <orientation>
// Exit status 0 on success, 1 on bad arguments or input, 2 when libheif
// fails.
#include <libheif/heif.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Reads the next number of a PPM header at `at`, skipping blanks and
// comments; -1 when there is none.
long HeaderNumber(const std::vector<unsigned char>& data, size_t* at)
{
    while (*at < data.size()) {
        if (data[*at] == '#') {
            while (*at < data.size() && data[*at] != '\n')
                ++*at;
        } else if (data[*at] == ' ' || data[*at] == '\n' || data[*at] == '\r' || data[*at] == '\t') {
            ++*at;
        } else {
            break;
        }
    }
    long value = -1;
    while (*at < data.size() && data[*at] >= '0' && data[*at] <= '9' && value < 100000)
        value = (value < 0 ? 0 : value * 10) + (data[(*at)++] - '0');
    return value;
}

bool Failed(const heif_error& error, const char* step)
{
    if (error.code == heif_error_Ok)
        return false;
    std::fprintf(stderr, "make_heif_orientation: %s: %s\n", step, error.message);
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int orientation = argc == 4 ? std::atoi(argv[3]) : 0;
    if (orientation < 1 || orientation > 8) {
        std::fprintf(stderr, "usage: make_heif_orientation in.ppm out.heic orientation(1-8)\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> ppm((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 2;
    const long width = ppm.size() > 2 && ppm[0] == 'P' && ppm[1] == '6' ? HeaderNumber(ppm, &at) : -1;
    const long height = HeaderNumber(ppm, &at);
    const long maximum = HeaderNumber(ppm, &at);
    if (width <= 0 || height <= 0 || maximum != 255 || at >= ppm.size() ||
        ppm.size() - at - 1 < static_cast<size_t>(width * height * 3)) {
        std::fprintf(stderr, "make_heif_orientation: %s is no 8-bit binary PPM\n", argv[1]);
        return 1;
    }
    const unsigned char* pixels = ppm.data() + at + 1;

    heif_image* image = nullptr;
    if (Failed(heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image), "image"))
        return 2;
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (long y = 0; y < height; ++y)
        std::memcpy(plane + y * stride, pixels + y * width * 3, static_cast<size_t>(width) * 3);

    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    int status = 2;
    if (!Failed(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder), "encoder")) {
        heif_encoder_set_lossy_quality(encoder, 90);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = static_cast<heif_orientation>(orientation);
        if (!Failed(heif_context_encode_image(context, image, encoder, options, nullptr), "encode") &&
            !Failed(heif_context_write_to_file(context, argv[2]), "write"))
            status = 0;
        heif_encoding_options_free(options);
        heif_encoder_release(encoder);
    }
    heif_context_free(context);
    heif_image_release(image);
    return status;
}
