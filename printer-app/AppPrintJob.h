// One print job on an RT-50: the filter's job driver and device object
// (the same page pipeline as vantora_rt50_filter), its packets collected
// sheet by sheet and printed through its AttachedPrinter.
//
// Photos (JPEG, PNG) are rendered by the photo front end, in its caged
// decoder, exactly as the CUPS queue's photo filter renders them, so a photo prints the same sheet
// either way; a PDF's pages are drawn as pictures by poppler and then take
// the photo's way; PWG raster pages come line by line from PAPPL.
#pragma once

#include "AttachedPrinter.h"
#include "Cage.h"
#include "FilterJob.h"
#include "MessageSink.h"
#include "PacketSink.h"
#include "PageFit.h"

#include <pappl/pappl.h>

#include <string>
#include <vector>

// Collects a sheet's packets and prints the sheet when its START packet
// has been taken.
class SheetSink : public PacketSink {
public:
    SheetSink(AttachedPrinter* attached, pappl_job_t* job);
    int TakePacket(const unsigned char* data, size_t length) override;
    int EndSheet() override;
    int SheetsPrinted() const { return m_printed; }
    // Whether each printed sheet adds an impression to the job (not where
    // PAPPL counts the pages itself).
    void CountImpressions(bool count) { m_countImpressions = count; }
    // The job is done: its record of printed sheets goes.
    void JobDone() { m_sheets.Finished(); }

private:
    AttachedPrinter* m_attached;
    pappl_job_t* m_job;
    JobSheets m_sheets;   // sheets printed by an earlier run of the job
    std::vector<unsigned char> m_sheet;
    int m_printed = 0;
    bool m_countImpressions = true;
};

// The job's messages (the page pipeline's errors among them) in its log.
class JobLogSink : public MessageSink {
public:
    explicit JobLogSink(pappl_job_t* job) : m_job(job) {}
    void Message(MessageLevel level, const char* text) override;

private:
    pappl_job_t* m_job;
};

class AppPrintJob {
public:
    // `job` may be null in tests (no cancel, no impressions).
    AppPrintJob(pappl_job_t* job, const pappl_pr_options_t& options, const char* scaling, AttachedPrinter* attached);
    ~AppPrintJob();
    AppPrintJob(const AppPrintJob&) = delete;
    AppPrintJob& operator=(const AppPrintJob&) = delete;

    // Records the settings and sends the clock. False after a log line.
    bool Start();

    // A PWG raster page: 8-bit grey or 24-bit RGB lines of the header's
    // size; lines outside the page are ignored. The page prints at the
    // resolution of its own header (sheets of another resolution before it
    // are printed first), in grey when the job asks for monochrome, and
    // adds its further copies to the impressions PAPPL counts. Start is
    // called here, not before.
    bool StartPage(const cups_page_header2_t& header, int copies);
    bool WriteLine(unsigned y, const unsigned char* line);
    bool EndPage();

    // Prints a photo file through the photo front end and the page
    // pipeline, in grey when `monochrome` or the job's options ask. A photo
    // that cannot be printed (damaged, too large, not a photo) fails the
    // job with the reason in its log. True also when the job was cancelled.
    bool PrintPhoto(const char* file, int copies, bool monochrome);

    // Prints pages `first` to `last` (from 1) of the PDF open on `pdf`,
    // each drawn by poppler's renderer (PdfPages) and printed as a photo
    // would be, `copies` times: the whole range again for each copy when
    // `collate`, else each page's copies together. A page the job did not
    // ask to fill or fit is filled when its shape is within 10 % of the
    // sheet's, else shown whole. A PDF that cannot be drawn fails the job
    // with the reason in its log. True also when the job was cancelled.
    bool PrintPdf(int pdf, int first, int last, int copies, bool collate, bool monochrome);

    // Prints the last incomplete sheet. False when the job failed.
    bool Finish();

    SheetSink& Sink() { return m_sink; }

    // The CPU time the job's decoders and renderers may still use, shared
    // with whoever else works on the job's document (its page count).
    void ShareCpuBudget(vantora_cage::CpuBudget* budget) { m_cpuBudget = budget; }

    // The filter options the job runs with.
    const std::string& OptionText() const { return m_optionText; }

private:
    // Errors say why the job ends: its log and its state message.
    void Log(pappl_loglevel_t level, const char* message);
    bool UseResolution(unsigned x, unsigned y);
    // Logs why the photo is not printed and marks the job failed.
    void RefusePhoto(const std::string& reason);
    // Renders the picture open on `fd`, of MIME type `type` (any photo when
    // null), in the caged decoder and prints it `copies` times; a
    // document's page is filled or fitted by its shape unless the job chose.
    bool PrintPicture(int fd, const char* type, int copies, bool monochrome, bool documentPage);

    pappl_job_t* m_job;
    SheetSink m_sink;
    JobLogSink m_messages;
    FilterJob m_filter;
    std::string m_jobId;
    std::string m_optionText;
    cups_page_header2_t m_header{};
    PageBuffer m_page;
    unsigned long m_stride = 0;
    unsigned m_bytesPerPixel = 0;
    int m_copies = 1;
    int m_pageIndex = 0;
    int m_pending = 0;
    bool m_failed = false;
    bool m_started = false;
    bool m_monochrome = false;
    bool m_scalingChosen = false;   // the job named its print-scaling
    pappl_scaling_t m_scaling = PAPPL_SCALING_AUTO;
    vantora_cage::CpuBudget m_ownCpuBudget{vantora_cage::kJobCpuSeconds};
    vantora_cage::CpuBudget* m_cpuBudget = &m_ownCpuBudget;
};
