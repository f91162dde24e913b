#include "PrinterAttributes.h"

#include "JobSettings.h"
#include "MediaSizes.h"
#include "PrinterIcons.h"

#include <cstdio>
#include <cstring>

namespace {

// A photo setting's keyword attributes; its default stays the one in
// `current` (the printer's attributes so far, may be null) when valid.
void AddKeywordSetting(ipp_t* attrs, const char* name, const char* const* keywords, int count, ipp_t* current)
{
    char attribute[128];
    std::snprintf(attribute, sizeof attribute, "%s-default", name);
    const char* value = keywords[0];
    ipp_attribute_t* chosen = current != nullptr ? ippFindAttribute(current, attribute, IPP_TAG_KEYWORD) : nullptr;
    for (int i = 0; chosen != nullptr && i < count; ++i) {
        if (std::strcmp(ippGetString(chosen, 0, nullptr), keywords[i]) == 0)
            value = keywords[i];
    }
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, attribute, nullptr, value);
    std::snprintf(attribute, sizeof attribute, "%s-supported", name);
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, attribute, count, nullptr, keywords);
}

// A photo setting's integer attributes; its default as for keywords.
void AddIntegerSetting(ipp_t* attrs, const IntegerSetting& setting, ipp_t* current)
{
    char attribute[128];
    std::snprintf(attribute, sizeof attribute, "%s-default", setting.attribute);
    int value = setting.fallback;
    ipp_attribute_t* chosen = current != nullptr ? ippFindAttribute(current, attribute, IPP_TAG_INTEGER) : nullptr;
    if (chosen != nullptr && ippGetInteger(chosen, 0) >= setting.lower && ippGetInteger(chosen, 0) <= setting.upper)
        value = ippGetInteger(chosen, 0);
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, attribute, value);
    std::snprintf(attribute, sizeof attribute, "%s-supported", setting.attribute);
    ippAddRange(attrs, IPP_TAG_PRINTER, attribute, setting.lower, setting.upper);
}

}  // namespace

void FillDriverData(pappl_pr_driver_data_t* data)
{
    data->format = kRt50Format;

    std::snprintf(data->make_and_model, sizeof data->make_and_model, "VANTORA RT-50");
    data->ppm = 1;
    data->ppm_color = 1;
    data->kind = PAPPL_KIND_PHOTO;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_COLOR;
    data->content_default = PAPPL_CONTENT_PHOTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;

    data->num_resolution = 2;
    data->x_resolution[0] = data->y_resolution[0] = 300;
    data->x_resolution[1] = data->y_resolution[1] = 600;
    data->x_default = data->y_default = 300;

    // Borderless, and the hairline margins that make CUPS's driverless
    // queues print borderless too (MediaSizes.h).
    data->borderless = true;
    data->left_right = kHairlineMargin;
    data->bottom_top = kHairlineMargin;
    data->num_media = kMediaSizeCount;
    for (int i = 0; i < kMediaSizeCount; ++i)
        data->media[i] = kMediaSizes[i].pwgName;
    data->media_default = MediaCol(kDefaultMediaIndex, true);
    data->media_ready[0] = data->media_default;
    data->num_source = 1;
    data->source[0] = "main";
    data->num_type = 1;
    data->type[0] = "photographic-glossy";

    int count = 0;
    const char* const* names = PhotoAttributeNames(&count);
    data->num_vendor = count;
    for (int i = 0; i < count; ++i)
        data->vendor[i] = names[i];

    data->icons[0] = {"", kPrinterIconSmall, kPrinterIconSmallSize};
    data->icons[1] = {"", kPrinterIconMedium, kPrinterIconMediumSize};
    data->icons[2] = {"", kPrinterIconLarge, kPrinterIconLargeSize};
}

// What PAPPL 1.3 does not send by itself, the photo settings and the
// supplies. The photo settings' defaults are those of `current` (the
// printer's attributes so far; null for a new printer): PAPPL keeps the
// defaults set on the web page or over IPP among these attributes.
ipp_t* DriverExtraAttributes(const MediaState& media, ipp_t* current)
{
    ipp_t* attrs = ippNew();
    AddSupplyAttributes(attrs, media);
    AddKeywordSetting(attrs, photo_attr::kBorder, kBorderKeywords, kBorderCount, current);
    AddKeywordSetting(attrs, photo_attr::kOvercoat, kOvercoatKeywords, kOvercoatCount, current);
    AddOvercoatFinishings(attrs);
    for (const IntegerSetting& setting : kIntegerSettings)
        AddIntegerSetting(attrs, setting, current);

    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    static const char* const kOverrides[] = {"document-numbers", "pages"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, kOverrides);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    static const char* const kIntents[] = {"auto", "perceptual"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", 2, nullptr, kIntents);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
    return attrs;
}

void RefreshPrinterAttributes(pappl_printer_t* printer, const MediaState& media)
{
    pappl_pr_driver_data_t data;
    if (papplPrinterGetDriverData(printer, &data) == nullptr)
        return;
    ipp_t* current = papplPrinterGetDriverAttributes(printer);
    ipp_t* attrs = DriverExtraAttributes(media, current);
    ippDelete(current);
    papplPrinterSetDriverData(printer, &data, attrs);
    ippDelete(attrs);
}
