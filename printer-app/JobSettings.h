// A job's IPP settings as the filter's options: the page size, the
// resolution and the photo settings (Zpx... options), which the page
// pipeline reads exactly as it reads a CUPS job's options.
#pragma once

#include <pappl/pappl.h>

#include <string>

// The photo settings: IPP attribute names of the printer's vendor
// attributes, their values, and the filter option each sets.
namespace photo_attr {
inline constexpr char kOvercoat[] = "overcoat-finish";    // keyword
inline constexpr char kBorder[] = "photo-border";         // keyword
inline constexpr char kSharpness[] = "photo-sharpness";   // integer
inline constexpr char kGamma[] = "photo-gamma";           // integer
inline constexpr char kBrightness[] = "photo-brightness"; // integer
inline constexpr char kContrast[] = "photo-contrast";     // integer
inline constexpr char kSaturation[] = "photo-saturation"; // integer
}  // namespace photo_attr

// One integer setting: its attribute, range and default.
struct IntegerSetting {
    const char* attribute;
    const char* option;  // filter option
    int lower;
    int upper;
    int fallback;
};
constexpr int kIntegerSettingCount = 5;
extern const IntegerSetting kIntegerSettings[kIntegerSettingCount];

// Keywords of overcoat-finish (first: default) and the filter's values.
constexpr int kOvercoatCount = 4;
extern const char* const kOvercoatKeywords[kOvercoatCount];
// Keywords of photo-border: "none" (default, the photo fills the page) and
// "white".
constexpr int kBorderCount = 2;
extern const char* const kBorderKeywords[kBorderCount];

// The overcoat a job's finishings-col asks for (`finishingsCol` may be
// null): the first value whose finishing-template is an overcoat keyword
// (or the name CUPS's generated PPD gives it, "FineMatte"), else whose coating has the coating-type glossy or matte. Null when none
// does. Driverless CUPS queues send the surface finish this way
// (cupsFinishingTemplate), as they send no vendor attributes.
const char* OvercoatOfFinishings(ipp_attribute_t* finishingsCol);

// The printer attributes that offer the overcoats as finishing templates
// (finishings-col-database, one value per overcoat keyword, glossy and
// matte with their coating) and the coatings.
void AddOvercoatFinishings(ipp_t* attrs);

// The filter options of a job, from PAPPL's job options (media, resolution,
// vendor attributes). Values the printer does not have fall back to the
// defaults: 4x6 media, 300 dpi, the settings' defaults; integers are
// limited to their range. `scaling`, when not null, is the job's explicit
// print-scaling keyword, passed on as the CUPS option. Returns the option
// count; *options is to be released with cupsFreeOptions.
int BuildFilterOptions(const pappl_pr_options_t& job, const char* scaling, cups_option_t** options);

// Index into the media table (MediaSizes.h) of the size a job prints on:
// its media by name, else by its dimensions, else the default 4x6.
int JobMediaIndex(const pappl_media_col_t& media);

// The options as a CUPS option string ("name=value name=value"), for
// the job log. Names and values here never need quoting.
std::string OptionString(int count, const cups_option_t* options);

// The vendor attributes PAPPL is told about, in the order the web page
// shows them; count in *count.
const char* const* PhotoAttributeNames(int* count);

// What a photo or PDF job asks for, read from PAPPL once, before any of its
// sheets is made.
struct PictureJobSettings {
    pappl_pr_options_t options{};   // PAPPL's print options, at 300 dpi unless the job named a resolution
    const char* scaling = nullptr;  // the job's explicit print-scaling keyword (held by the job), or null
    bool monochrome = false;        // print-color-mode=monochrome
    bool collate = true;            // copies collated unless "separate-documents-uncollated-copies"
};

// Reads them from `job` and PAPPL's print `options` for it. PAPPL gives a
// photo or document the printer's highest resolution; it prints at 300 dpi
// unless the job asks for 600.
PictureJobSettings ReadPictureJob(pappl_job_t* job, const pappl_pr_options_t& options);

// The job's explicit print-scaling keyword (held by the job), or null.
const char* ExplicitScaling(pappl_job_t* job);
