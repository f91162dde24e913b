#include "Rt50Driver.h"

#include "AppAuth.h"
#include "DocumentCheck.h"
#include "WebPages.h"
#include "JobSettings.h"
#include "MediaSizes.h"
#include "AppPrintJob.h"
#include "PrinterIdentity.h"
#include "AttachedPrinter.h"
#include "PrinterRegistry.h"
#include "Rt50Uri.h"
#include "PdfPages.h"
#include "Rt50Scheme.h"

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
    AttachedPrinter* attached = AttachedPrinterOfDevice(device);
    if (attached == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's device is not an RT-50.");
        return false;
    }
    TakeFinishingsOvercoat(job, options);
    // The header here is the printer's default, not the document's: each
    // page sets its own resolution (AppPrintJob::StartPage). PAPPL counts
    // the raster pages as impressions itself.
    AppPrintJob* printJob = new AppPrintJob(job, *options, ExplicitScaling(job), attached);
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

// Ends a job whose document cannot be printed, with the reason in its log
// and on its page.
bool RefuseDocument(pappl_job_t* job, const std::string& reason)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", reason.c_str());
    papplJobSetMessage(job, "%s.", reason.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

// JPEG, PNG and HEIC/HEIF/AVIF: the job's settings read once, then the
// photo front end and the page pipeline. A photo that cannot be printed
// ends the job aborted, its format and reason in the job's message and log.
bool PrintPhotoFile(pappl_job_t* job, pappl_device_t* device, void*)
{
    AttachedPrinter* attached = AttachedPrinterOfDevice(device);
    if (attached == nullptr) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's device is not an RT-50.");
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
    if (options == nullptr)
        return false;
    TakeFinishingsOvercoat(job, options);
    const PictureJobSettings settings = ReadPictureJob(job, *options);
    bool done;
    {
        AppPrintJob printJob(job, settings.options, settings.scaling, attached);
        done = printJob.Start() &&
               printJob.PrintPhoto(papplJobGetFilename(job), settings.options.copies, settings.monochrome) &&
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
    AttachedPrinter* attached = AttachedPrinterOfDevice(device);
    if (attached == nullptr) {
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
    const PictureJobSettings settings = ReadPictureJob(job, *options);
    bool done;
    {
        AppPrintJob printJob(job, settings.options, settings.scaling, attached);
        printJob.ShareCpuBudget(&budget);
        done = printJob.Start() &&
               printJob.PrintPdf(pdf, static_cast<int>(settings.options.first_page),
                                 static_cast<int>(settings.options.last_page), settings.options.copies,
                                 settings.collate, settings.monochrome) &&
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
    FillDriverData(data);

    *attrs = DriverExtraAttributes(MediaState{}, nullptr);
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

void Rt50PrinterCreated(pappl_printer_t* printer, void*)
{
    PrinterCreated(printer);
    // PAPPL adds its own pages after this: the first one added for a path
    // is the one served.
    GuardPrinterPage(printer);
    AddJobsPage(printer);
    AddSuppliesPage(printer);

    // PAPPL makes the driver attributes before the printer's own, so the
    // JPEG size limit it copies from them reads 0: made again now.
    PrinterFacts facts;
    if (const auto attached = FindAttachedPrinter(SerialInRt50Uri(papplPrinterGetDeviceURI(printer))))
        facts = attached->Facts();
    RefreshPrinterAttributes(printer, facts.media);
}
