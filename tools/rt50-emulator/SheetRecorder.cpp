#include "SheetRecorder.h"

#include "SheetCuts.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace rt50emu {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// File names carry the serial; anything but letters, digits, '-' and '_'
// from the printer's state becomes '_'.
std::string SafeName(const std::string& text)
{
    std::string name;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        name.push_back(ok ? c : '_');
    }
    return name.empty() ? std::string("printer") : name;
}

// The last value of a setting the sheet was sent, or "".
std::string SettingOf(const Sheet& sheet, const char* name)
{
    std::string value;
    for (const auto& setting : sheet.settings) {
        if (setting.first == name)
            value = setting.second;
    }
    return value;
}

}  // namespace

bool WritePng(const std::string& path, int width, int height, const uint8_t* rgb)
{
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    // Sheets are large and written while the printer "prints": favour speed.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = 0; row < height; ++row)
        png_write_row(png, rgb + static_cast<size_t>(row) * static_cast<size_t>(width) * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(file.get()) == 0;
}

bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return true;
}

std::string RecordSheet(const std::string& folder, const Sheet& sheet)
{
    char number[16];
    std::snprintf(number, sizeof number, "%04d", sheet.number);
    const std::string base = folder + "/" + SafeName(sheet.serial) + "-sheet-" + number;

    // The yellow plane carries blue, magenta green and cyan red; values are
    // not inverted, so white paper is 255 in all three.
    const size_t pixels = static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height);
    std::vector<uint8_t> rgb(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        rgb[3 * i + 0] = sheet.planes[2][i];
        rgb[3 * i + 1] = sheet.planes[1][i];
        rgb[3 * i + 2] = sheet.planes[0][i];
    }
    // A sheet asking for the 2-inch cut shows where the cutter divides it.
    int cuts[kMostTwoInchCuts];
    const int cutCount = std::atoi(SettingOf(sheet, "CUTTER").c_str()) == kTwoInchCutValue
                             ? TwoInchCutRows(std::atoi(SettingOf(sheet, "MULTICUT").c_str()), sheet.height, cuts)
                             : 0;
    for (int i = 0; i < cutCount; ++i)
        DrawCutLine(rgb.data(), sheet.width, sheet.height, cuts[i]);
    if (!WritePng(base + ".png", sheet.width, sheet.height, rgb.data()))
        return "cannot write " + base + ".png";

    File text(std::fopen((base + ".txt").c_str(), "w"));
    if (!text)
        return "cannot write " + base + ".txt";
    std::fprintf(text.get(), "SERIAL=%s\nSHEET=%d\nWIDTH=%d\nHEIGHT=%d\nPIXELS_PER_METRE_Y=%d\n",
                 sheet.serial.c_str(), sheet.number, sheet.width, sheet.height,
                 sheet.pixelsPerMetreY);
    for (const auto& setting : sheet.settings)
        std::fprintf(text.get(), "%s=%s\n", setting.first.c_str(), setting.second.c_str());
    if (std::fflush(text.get()) != 0)
        return "cannot write " + base + ".txt";
    return std::string();
}

}  // namespace rt50emu
