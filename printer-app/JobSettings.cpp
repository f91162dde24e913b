#include "JobSettings.h"

#include "MediaSizes.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const IntegerSetting kIntegerSettings[kIntegerSettingCount] = {
    {photo_attr::kSharpness, "ZpxSharpness", -2, 8, 0},
    {photo_attr::kGamma, "ZpxGamma", -100, 100, 0},
    {photo_attr::kBrightness, "ZpxBrightness", -50, 50, 0},
    {photo_attr::kContrast, "ZpxContrast", -50, 50, 0},
    {photo_attr::kSaturation, "ZpxChroma", -50, 50, 0},
};

const char* const kOvercoatKeywords[kOvercoatCount] = {"glossy", "matte", "fine-matte", "luster"};
const char* const kBorderKeywords[kBorderCount] = {"none", "white"};

namespace {

const char* const kOvercoatValues[kOvercoatCount] = {"Glossy", "Matte", "FineMatte", "Luster"};
// The coating-type of each overcoat; null for those without a standard one.
const char* const kOvercoatCoatings[kOvercoatCount] = {"glossy", "matte", nullptr, nullptr};

const char* VendorValue(const pappl_pr_options_t& job, const char* name)
{
    if (job.vendor == nullptr || job.num_vendor <= 0)
        return nullptr;
    return cupsGetOption(name, job.num_vendor, job.vendor);
}

// The integer in `text` when it is one (optional sign, digits, nothing
// else) and within the setting's range; the default otherwise.
int IntegerValue(const char* text, const IntegerSetting& setting)
{
    if (text == nullptr || text[0] == '\0')
        return setting.fallback;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return setting.fallback;
    if (value < setting.lower)
        return setting.lower;
    if (value > setting.upper)
        return setting.upper;
    return static_cast<int>(value);
}

int KeywordIndex(const char* text, const char* const* keywords, int count)
{
    for (int i = 0; text != nullptr && i < count; ++i) {
        if (std::strcmp(text, keywords[i]) == 0)
            return i;
    }
    return 0;
}

// Whether a finishing template names `keyword`: as it is, or as CUPS's
// generated PPD names its choice ("FineMatte" for fine-matte), which a
// driverless queue sends as it is.
bool NamesKeyword(const char* name, const char* keyword)
{
    for (;;) {
        while (*name == '-')
            ++name;
        while (*keyword == '-')
            ++keyword;
        if (*name == '\0' || *keyword == '\0')
            return *name == *keyword;
        if (std::tolower(static_cast<unsigned char>(*name)) != *keyword)
            return false;
        ++name;
        ++keyword;
    }
}

}  // namespace

const char* OvercoatOfFinishings(ipp_attribute_t* finishingsCol)
{
    if (finishingsCol == nullptr || ippGetValueTag(finishingsCol) != IPP_TAG_BEGIN_COLLECTION)
        return nullptr;
    for (int i = 0; i < ippGetCount(finishingsCol); ++i) {
        ipp_t* value = ippGetCollection(finishingsCol, i);
        ipp_attribute_t* name = ippFindAttribute(value, "finishing-template", IPP_TAG_ZERO);
        const char* text = name != nullptr ? ippGetString(name, 0, nullptr) : nullptr;
        for (int k = 0; text != nullptr && k < kOvercoatCount; ++k) {
            if (NamesKeyword(text, kOvercoatKeywords[k]))
                return kOvercoatKeywords[k];
        }
        ipp_attribute_t* coating = ippFindAttribute(value, "coating", IPP_TAG_BEGIN_COLLECTION);
        ipp_attribute_t* type =
            coating != nullptr ? ippFindAttribute(ippGetCollection(coating, 0), "coating-type", IPP_TAG_ZERO) : nullptr;
        text = type != nullptr ? ippGetString(type, 0, nullptr) : nullptr;
        for (int k = 0; text != nullptr && k < kOvercoatCount; ++k) {
            if (kOvercoatCoatings[k] != nullptr && std::strcmp(text, kOvercoatCoatings[k]) == 0)
                return kOvercoatKeywords[k];
        }
    }
    return nullptr;
}

void AddOvercoatFinishings(ipp_t* attrs)
{
    ipp_attribute_t* database = nullptr;
    for (int k = 0; k < kOvercoatCount; ++k) {
        ipp_t* value = ippNew();
        ippAddString(value, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr, kOvercoatKeywords[k]);
        if (kOvercoatCoatings[k] != nullptr) {
            ipp_t* coating = ippNew();
            ippAddString(coating, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "coating-sides", nullptr, "front");
            ippAddString(coating, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "coating-type", nullptr, kOvercoatCoatings[k]);
            ippAddCollection(value, IPP_TAG_ZERO, "coating", coating);
            ippDelete(coating);
        }
        if (database == nullptr)
            database = ippAddCollection(attrs, IPP_TAG_PRINTER, "finishings-col-database", value);
        else
            ippSetCollection(attrs, &database, ippGetCount(database), value);
        ippDelete(value);
    }
    static const char* const kMembers[] = {"coating", "finishing-template"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "finishings-col-supported", 2, nullptr, kMembers);
    static const char* const kCoatings[] = {"glossy", "matte"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "coating-type-supported", 2, nullptr, kCoatings);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "coating-sides-supported", nullptr, "front");
}

int JobMediaIndex(const pappl_media_col_t& media)
{
    int index = MediaIndexForName(media.size_name);
    if (index < 0)
        index = MediaIndexForDimensions(media.size_width, media.size_length);
    return index < 0 ? kDefaultMediaIndex : index;
}

int BuildFilterOptions(const pappl_pr_options_t& job, const char* scaling, cups_option_t** options)
{
    int count = 0;
    *options = nullptr;
    count = cupsAddOption("PageSize", kMediaSizes[JobMediaIndex(job.media)].pageSize, count, options);
    const bool fine = job.printer_resolution[0] == 600 && job.printer_resolution[1] == 600;
    count = cupsAddOption("Resolution", fine ? "600x600dpi" : "300x300dpi", count, options);

    // A border comes from the setting or from media with margins.
    const bool margins = job.media.left_margin >= kBorderMarginFloor || job.media.right_margin >= kBorderMarginFloor ||
                         job.media.top_margin >= kBorderMarginFloor || job.media.bottom_margin >= kBorderMarginFloor;
    const int border = KeywordIndex(VendorValue(job, photo_attr::kBorder), kBorderKeywords, kBorderCount);
    count = cupsAddOption("ZpxBorder", (border == 1 || margins) ? "Enable" : "Disable", count, options);
    const int overcoat = KeywordIndex(VendorValue(job, photo_attr::kOvercoat), kOvercoatKeywords, kOvercoatCount);
    count = cupsAddOption("ZpxOvercoatFinish", kOvercoatValues[overcoat], count, options);

    bool adjusted = false;
    for (const IntegerSetting& setting : kIntegerSettings) {
        const int value = IntegerValue(VendorValue(job, setting.attribute), setting);
        char text[16];
        std::snprintf(text, sizeof text, "%d", value);
        count = cupsAddOption(setting.option, text, count, options);
        if (std::strcmp(setting.option, "ZpxSharpness") != 0 && value != 0)
            adjusted = true;
    }
    // The colour settings act only with colour adjustment on; all of them
    // at 0 are the identity either way.
    count = cupsAddOption("ZpxColorAdjustment", adjusted ? "Enable" : "Disable", count, options);

    static const char* const kScalings[] = {"auto", "auto-fit", "fill", "fit", "none"};
    for (const char* known : kScalings) {
        if (scaling != nullptr && std::strcmp(scaling, known) == 0)
            count = cupsAddOption("print-scaling", known, count, options);
    }
    return count;
}

std::string OptionString(int count, const cups_option_t* options)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (!text.empty())
            text += ' ';
        text += options[i].name;
        text += '=';
        text += options[i].value;
    }
    return text;
}

const char* const* PhotoAttributeNames(int* count)
{
    static const char* const kNames[] = {photo_attr::kBorder,     photo_attr::kOvercoat,   photo_attr::kSharpness,
                                         photo_attr::kGamma,      photo_attr::kBrightness, photo_attr::kContrast,
                                         photo_attr::kSaturation};
    *count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
    return kNames;
}

const char* ExplicitScaling(pappl_job_t* job)
{
    ipp_attribute_t* attr = job != nullptr ? papplJobGetAttribute(job, "print-scaling") : nullptr;
    return attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
}

PictureJobSettings ReadPictureJob(pappl_job_t* job, const pappl_pr_options_t& options)
{
    PictureJobSettings settings;
    settings.options = options;
    if (job == nullptr || papplJobGetAttribute(job, "printer-resolution") == nullptr) {
        settings.options.printer_resolution[0] = 300;
        settings.options.printer_resolution[1] = 300;
    }
    settings.scaling = ExplicitScaling(job);
    settings.monochrome = options.print_color_mode == PAPPL_COLOR_MODE_MONOCHROME;
    ipp_attribute_t* handling = job != nullptr ? papplJobGetAttribute(job, "multiple-document-handling") : nullptr;
    const char* value = handling != nullptr ? ippGetString(handling, 0, nullptr) : nullptr;
    settings.collate = value == nullptr || std::strcmp(value, "separate-documents-uncollated-copies") != 0;
    return settings;
}
