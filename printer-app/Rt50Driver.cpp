#include "Rt50Driver.h"

#include "AppAuth.h"
#include "DocumentCheck.h"
#include "InfoPage.h"
#include "JobSettings.h"
#include "MediaSizes.h"
#include "AppPrintJob.h"
#include "PrinterIdentity.h"
#include "AttachedPrinter.h"
#include "PrinterRegistry.h"
#include "PapplState.h"
#include "PdfPages.h"
#include "PrinterIcons.h"
#include "UsbScheme.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

pappl_pr_driver_t kRt50Drivers[1] = {
    {kRt50DriverName, "VANTORA RT-50", "MFG:VANTORA;MDL:RT-50;", nullptr},
};

namespace {

AppPrintJob* JobOf(pappl_job_t* job)
{
    return static_cast<AppPrintJob*>(papplJobGetData(job));
}

// The job's explicit print-scaling, or null.
const char* ExplicitScaling(pappl_job_t* job)
{
    ipp_attribute_t* attr = papplJobGetAttribute(job, "print-scaling");
    return attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
}

// A job's overcoat from its finishings-col (a driverless CUPS queue's
// finishing template) unless the job names its overcoat-finish itself.
void TakeFinishingsOvercoat(pappl_job_t* job, pappl_pr_options_t* options)
{
    if (papplJobGetAttribute(job, photo_attr::kOvercoat) != nullptr)
        return;
    if (const char* overcoat = OvercoatOfFinishings(papplJobGetAttribute(job, "finishings-col")))
        options->num_vendor = cupsAddOption(photo_attr::kOvercoat, overcoat, options->num_vendor, &options->vendor);
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    AttachedPrinter* link = LinkOfDevice(device);
    if (link == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's device is not an RT-50.");
        return false;
    }
    TakeFinishingsOvercoat(job, options);
    // The header here is the printer's default, not the document's: each
    // page sets its own resolution (AppPrintJob::StartPage). PAPPL counts
    // the raster pages as impressions itself.
    AppPrintJob* printJob = new AppPrintJob(job, *options, ExplicitScaling(job), link);
    printJob->Sink().CountImpressions(false);
    papplJobSetData(job, printJob);
    return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned)
{
    AppPrintJob* printJob = JobOf(job);
    return printJob != nullptr && printJob->StartPage(options->header, options->copies);
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line)
{
    AppPrintJob* printJob = JobOf(job);
    return printJob != nullptr && printJob->WriteLine(y, line);
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
    AppPrintJob* printJob = JobOf(job);
    return printJob != nullptr && printJob->EndPage();
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    AppPrintJob* printJob = JobOf(job);
    const bool done = printJob != nullptr && printJob->Finish();
    delete printJob;
    papplJobSetData(job, nullptr);
    return done;
}

// A document of no known format (PAPPL hands it over as it came) is not
// sent: it would reach the printer unchecked.
bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The document's format is not known: it is not printed.");
    papplJobSetMessage(job, "The document's format is not known: it is not printed.");
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

// The options of a photo or document job: PAPPL takes the highest
// resolution for them; they print at 300 dpi unless the job asks for 600.
pappl_pr_options_t PictureSettings(pappl_job_t* job, const pappl_pr_options_t& options)
{
    pappl_pr_options_t settings = options;
    if (papplJobGetAttribute(job, "printer-resolution") == nullptr) {
        settings.printer_resolution[0] = 300;
        settings.printer_resolution[1] = 300;
    }
    return settings;
}

// Ends a job whose document cannot be printed, with the reason in its log
// and on its page.
bool RefuseDocument(pappl_job_t* job, const std::string& reason)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", reason.c_str());
    papplJobSetMessage(job, "%s.", reason.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

// JPEG, PNG and HEIC/HEIF/AVIF: the photo front end, then the page pipeline. A
// photo that cannot be printed ends the job aborted, its format and reason
// in the job's message and log.
bool PrintPhotoFile(pappl_job_t* job, pappl_device_t* device, void*)
{
    AttachedPrinter* link = LinkOfDevice(device);
    if (link == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's device is not an RT-50.");
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
    if (options == nullptr)
        return false;
    TakeFinishingsOvercoat(job, options);
    bool done;
    {
        AppPrintJob printJob(job, PictureSettings(job, *options), ExplicitScaling(job), link);
        const bool monochrome = options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME;
        done = printJob.Start() && printJob.PrintPhoto(papplJobGetFilename(job), options->copies, monochrome) &&
               printJob.Finish();
    }
    papplJobDeletePrintOptions(options);
    return done;
}

bool JobIsCanceled(void* job)
{
    return papplJobIsCanceled(static_cast<pappl_job_t*>(job));
}

// PDF: its pages counted, then the pages of the job's page-ranges drawn one
// at a time and printed as photos, collated copies unless the job asks for
// uncollated ones.
bool PrintPdfFile(pappl_job_t* job, pappl_device_t* device, void*)
{
    AttachedPrinter* link = LinkOfDevice(device);
    if (link == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's device is not an RT-50.");
        return false;
    }
    const int pdf = open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
    if (pdf < 0)
        return RefuseDocument(job, std::string("The PDF cannot be read: ") + std::strerror(errno));
    int pages = 0;
    std::string reason;
    // One CPU budget for the whole job: its page count and every page.
    vantora_cage::CpuBudget budget{vantora_cage::kJobCpuSeconds};
    const pdf_pages::PdfResult counted =
        pdf_pages::CountPdfPages(pdf, {JobIsCanceled, job}, &budget, &pages, &reason);
    if (counted != pdf_pages::PdfResult::Done) {
        close(pdf);
        if (counted == pdf_pages::PdfResult::Refused)
            return RefuseDocument(job, reason);
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", pdf_pages::kRendererStopped);
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, static_cast<unsigned>(pages), true);
    if (options == nullptr) {
        close(pdf);
        return false;
    }
    TakeFinishingsOvercoat(job, options);
    ipp_attribute_t* handling = papplJobGetAttribute(job, "multiple-document-handling");
    const char* handlingValue = handling != nullptr ? ippGetString(handling, 0, nullptr) : nullptr;
    const bool collate =
        handlingValue == nullptr || std::strcmp(handlingValue, "separate-documents-uncollated-copies") != 0;
    bool done;
    {
        AppPrintJob printJob(job, PictureSettings(job, *options), ExplicitScaling(job), link);
        printJob.ShareCpuBudget(&budget);
        const bool monochrome = options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME;
        done = printJob.Start() &&
               printJob.PrintPdf(pdf, static_cast<int>(options->first_page), static_cast<int>(options->last_page),
                                 options->copies, collate, monochrome) &&
               printJob.Finish();
    }
    papplJobDeletePrintOptions(options);
    close(pdf);
    return done;
}

bool PrinterStatus(pappl_printer_t*)
{
    // The registry polls idle printers and the jobs watch theirs: the
    // state shown is never older than one poll.
    return true;
}

// The RT-50 has no panel, light or sound: the time of the request is shown
// on the application's page of every RT-50, its message (anyone's text)
// only in the log, as one line of plain characters.
void IdentifyPrinter(pappl_printer_t* printer, pappl_identify_actions_t, const char* message)
{
    std::string text;
    for (const char* c = message; c != nullptr && *c != '\0' && text.size() < 255; ++c)
        text += (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) ? '_' : *c;
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", text.c_str());
    NoteIdentify(printer);
}

void DeletePrinter(pappl_printer_t* printer, pappl_pr_driver_data_t*)
{
    // PAPPL holds its system lock here when one printer is deleted: no
    // call may ask for it (papplSystem*), or the application freezes.
    PrinterDeleted(printer);
}

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

// What PAPPL 1.3 does not send by itself, the photo settings and the
// supplies. The photo settings' defaults are those of `current` (the
// printer's attributes so far; null for a new printer): PAPPL keeps the
// defaults set on the web page or over IPP among these attributes.
ipp_t* ExtraAttributes(const MediaState& media, ipp_t* current)
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

}  // namespace

bool Rt50DriverCallback(pappl_system_t*, const char* driverName, const char* deviceUri, const char*,
                        pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    // The driver drives RT-50s through the application's own device scheme
    // only: a printer for a file or a network address is refused.
    if (driverName == nullptr || std::strcmp(driverName, kRt50DriverName) != 0 || SerialInRt50Uri(deviceUri).empty())
        return false;

    data->printfile_cb = PrintRawFile;
    data->rstartjob_cb = StartRasterJob;
    data->rstartpage_cb = StartRasterPage;
    data->rwriteline_cb = WriteRasterLine;
    data->rendpage_cb = EndRasterPage;
    data->rendjob_cb = EndRasterJob;
    data->status_cb = PrinterStatus;
    data->delete_cb = DeletePrinter;
    data->identify_cb = IdentifyPrinter;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
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

    *attrs = ExtraAttributes(MediaState{}, nullptr);
    return true;
}

const char* Rt50AutoAdd(const char*, const char*, const char* deviceId, void*)
{
    char model[kModelSize];
    return deviceId != nullptr && ParseRt50DeviceId(deviceId, model, sizeof model) ? kRt50DriverName : nullptr;
}

namespace {

// The type of an application/octet-stream document PAPPL does not know
// itself (a phone's HEIC photo); null when none.
const char* TypeDocument(const unsigned char* header, size_t length, void*)
{
    return DocumentFormat(header, length);
}

}  // namespace

void AddDocumentFilters(pappl_system_t* system)
{
    papplSystemAddMIMEFilter(system, "image/jpeg", kRt50Format, PrintPhotoFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/png", kRt50Format, PrintPhotoFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/heic", kRt50Format, PrintPhotoFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/heif", kRt50Format, PrintPhotoFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/avif", kRt50Format, PrintPhotoFile, nullptr);
    papplSystemAddMIMEFilter(system, "application/pdf", kRt50Format, PrintPdfFile, nullptr);
    papplSystemSetMIMECallback(system, TypeDocument, nullptr);
}

namespace {

// The supplies page: the ribbon and paper set's gauge and the prints left.
bool ServeSuppliesPage(pappl_client_t* client, void* data)
{
    pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
    if (papplClientGetMethod(client) != HTTP_STATE_GET) {
        papplClientRespond(client, HTTP_STATUS_METHOD_NOT_ALLOWED, nullptr, nullptr, 0, 0);
        return true;
    }
    MediaState media;
    if (const auto link = FindAttachedPrinter(SerialInRt50Uri(papplPrinterGetDeviceURI(printer))))
        media = link->Facts().media;
    const int level = SupplyLevel(media);
    const double shown = level < 0 ? 0.0 : level;
    // The printer header sends the HTTP response header too.
    papplClientHTMLPrinterHeader(client, printer, "Supplies", 10, nullptr, nullptr);
    papplClientHTMLPrintf(client,
                          "          <table class=\"meter\" summary=\"Supplies\">\n"
                          "            <thead><tr><th></th><td></td><td></td><td></td><td></td></tr></thead>\n"
                          "            <tbody>\n"
                          "              <tr><th>%s</th><td colspan=\"4\"><span class=\"bar\" style=\"background: "
                          "linear-gradient(90deg, #0cc, #c0c, #cc0); padding: 0px %.1f%%;\" title=\"%d%%\"></span>"
                          "<span class=\"bar\" style=\"background: transparent; padding: 0px %.1f%%;\" "
                          "title=\"%d%%\"></span></td></tr>\n"
                          "            </tbody>\n"
                          "            <tfoot><tr><th></th><td></td><td></td><td></td><td></td></tr></tfoot>\n"
                          "          </table>\n",
                          kSupplyName, shown * 0.5, level, 50.0 - shown * 0.5, level);
    if (media.remaining >= 0 && media.initial > 0)
        papplClientHTMLPrintf(client, "          <p>%d of %d prints left.</p>\n", media.remaining, media.initial);
    else if (media.remaining >= 0)
        papplClientHTMLPrintf(client, "          <p>%d prints left.</p>\n", media.remaining);
    else
        papplClientHTMLPuts(client, "          <p>The prints left are not known while the printer is away.</p>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void RefreshPrinterAttributes(pappl_printer_t* printer, const MediaState& media)
{
    pappl_pr_driver_data_t data;
    if (papplPrinterGetDriverData(printer, &data) == nullptr)
        return;
    ipp_t* current = papplPrinterGetDriverAttributes(printer);
    ipp_t* attrs = ExtraAttributes(media, current);
    ippDelete(current);
    papplPrinterSetDriverData(printer, &data, attrs);
    ippDelete(attrs);
}

void Rt50PrinterCreated(pappl_printer_t* printer, void*)
{
    PrinterCreated(printer);
    // PAPPL adds its own pages after this: the first one added for a path
    // is the one served.
    GuardPrinterPage(printer);
    AddJobsPage(printer);
    char path[256];
    papplPrinterGetPath(printer, "supplies", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", ServeSuppliesPage, printer);

    // PAPPL makes the driver attributes before the printer's own, so the
    // JPEG size limit it copies from them reads 0: made again now.
    PrinterFacts facts;
    if (const auto link = FindAttachedPrinter(SerialInRt50Uri(papplPrinterGetDeviceURI(printer))))
        facts = link->Facts();
    RefreshPrinterAttributes(printer, facts.media);
}
