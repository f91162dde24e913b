// The whole print path as a user takes it: a private CUPS scheduler runs the
// built filter and the built backend (behind a wrapper that puts it on the
// emulated USB bus), the USB monitor daemon makes the queue, documents are
// printed with lp, and the emulated RT-50 records the sheets. Each sheet must equal, pixel for pixel, what the filter
// chain makes of the same document without a scheduler.
#include "FilterTestKit.h"
#include "Rt50EmulatorFixture.h"
#include "SheetRecorder.h"
#include "private_cupsd.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <functional>
#include <csignal>
#include <sys/wait.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace filtertest;

namespace {

const char kUriPrefix[] = "vantora-zpxbackend://VANTORA/RT-50?serial=";

// The filter chain without a scheduler: cupsfilter with the built PPD and a
// private filter folder (the system's filters and ours).
std::vector<uint8_t> FilterChain(const std::string& document)
{
    TempDir dir;
    mkdir(dir.Path("filter").c_str(), 0755);
    const std::string system = VANTORA_CUPS_SERVERBIN "/filter";
    if (DIR* folder = opendir(system.c_str())) {
        while (dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.rfind("vantora_", 0) != 0)
                symlink((system + "/" + name).c_str(), dir.Path("filter/" + name).c_str());
        }
        closedir(folder);
    }
    symlink(FilterProgram().c_str(), dir.Path("filter/vantora_rt50_filter").c_str());
    symlink(VANTORA_PHOTO_PROGRAM, dir.Path("filter/vantora_rt50_photo").c_str());
    FILE* conf = std::fopen(dir.Path("cups-files.conf").c_str(), "w");
    std::fprintf(conf, "ServerBin %s\nDataDir %s\nServerRoot /etc/cups\n", dir.Path().c_str(), VANTORA_CUPS_DATADIR);
    std::fclose(conf);
    JobOneStartFile start;
    const FilterRun run = RunProgram("/usr/sbin/cupsfilter",
                                     {"-c", dir.Path("cups-files.conf"), "-p", BuiltPpd(), "-m", "printer/cupsfilter",
                                      "-e", document},
                                     "", "");
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    return run.output;
}

class PrintPath : public rt50emu::Rt50EmulatorTest {
protected:
    int PrintMs() const override { return 200; }

    void SetUp() override
    {
        Rt50EmulatorTest::SetUp();
        // This program runs under umockdev's preload library (and, sanitized,
        // the sanitizer runtime); the programs it starts (the scheduler, lp,
        // lpadmin, cupsfilter) do not need them, and a sanitizer would judge
        // the system's programs. The backend gets its own through its wrapper.
        if (const char* preload = std::getenv("LD_PRELOAD"))
            m_preload = preload;
        unsetenv("LD_PRELOAD");
        vantora_test::CupsdOptions options;
        options.ppd = BuiltPpd();
        options.filters = {FilterProgram(), VANTORA_PHOTO_PROGRAM};
        options.backends = {VANTORA_BACKEND_WRAPPER};
        options.cupsdConf = {"PreserveJobHistory Yes"};
        // The backend's records, printer counts and failover marks in
        // folders of this test's.
        options.filesConf = {"SetEnv UMOCKDEV_DIR " + emulator().RootDir(),
                             "SetEnv VANTORA_RT50_JOB_RECORDS " + m_state.Path("jobs"),
                             "SetEnv VANTORA_RT50_COUNTS " + m_state.Path("counts"),
                             "SetEnv VANTORA_RT50_FAILOVER " + m_state.Path("failover")};
        m_cupsd = std::make_unique<vantora_test::PrivateCupsd>(options);
        ASSERT_TRUE(m_cupsd->Start()) << m_cupsd->error();
    }

    void TearDown() override
    {
        m_cupsd.reset();
        if (!m_preload.empty())
            setenv("LD_PRELOAD", m_preload.c_str(), 1);
        Rt50EmulatorTest::TearDown();
    }



    static bool WaitUntil(int seconds, const std::function<bool()>& done)
    {
        for (int i = 0; i < seconds * 50; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string AddQueue(const std::string& name, const std::string& serial)
    {
        EXPECT_TRUE(m_cupsd->AddQueue(name, kUriPrefix + serial)) << m_cupsd->ErrorLog();
        return name;
    }

    // Submits `document` with lp; returns the job id, or 0.
    int Submit(const std::string& queue, const std::string& document)
    {
        return cupsPrintFile(queue.c_str(), document.c_str(), "test", 0, nullptr);
    }

    // The state of a job (IPP_JSTATE_*), 0 when unknown.
    int JobState(int job)
    {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        int state = 0;
        for (int i = 0; i < count; ++i) {
            if (jobs[i].id == job)
                state = jobs[i].state;
        }
        cupsFreeJobs(count, jobs);
        return state;
    }

    bool WaitForJob(int job, int state, int seconds = 60)
    {
        return WaitUntil(seconds, [&] { return JobState(job) == state; });
    }

    // One printer attribute as text (values joined with ','), "" when missing.
    std::string PrinterAttribute(const std::string& queue, const char* name)
    {
        ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        const std::string uri = "ipp://localhost/printers/" + queue;
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
        ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
        std::string text;
        if (ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO)) {
            char buffer[1024];
            ippAttributeString(attr, buffer, sizeof buffer);
            text = buffer;
        }
        ippDelete(response);
        return text;
    }

    // The sheets the emulated printer recorded for `serial`, as RGB images.
    struct Recorded {
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
    };
    std::vector<Recorded> Sheets(const std::string& serial)
    {
        std::vector<Recorded> sheets;
        for (int number = 1;; ++number) {
            char name[96];
            std::snprintf(name, sizeof name, "/%s-sheet-%04d.png", serial.c_str(), number);
            Recorded sheet;
            if (!rt50emu::ReadPng(outputFolder() + name, &sheet.width, &sheet.height, &sheet.rgb))
                return sheets;
            sheets.push_back(std::move(sheet));
        }
    }

    // True when `sheet` shows exactly the planes of the stream's first sheet.
    static ::testing::AssertionResult SameSheet(const Recorded& sheet, const std::vector<uint8_t>& stream)
    {
        std::vector<StreamPacket> packets;
        std::vector<StreamSheet> sheets;
        std::string error;
        if (!ParseCommandStream(stream, packets, &error) || !CollectSheets(packets, sheets, &error) || sheets.empty())
            return ::testing::AssertionFailure() << "reference stream: " << error;
        const StreamSheet& reference = sheets[0];
        if (sheet.width != reference.cyan.width || sheet.height != reference.cyan.height)
            return ::testing::AssertionFailure() << "sheet " << sheet.width << "x" << sheet.height << ", reference "
                                                 << reference.cyan.width << "x" << reference.cyan.height;
        for (int y = 0; y < sheet.height; ++y) {
            for (int x = 0; x < sheet.width; ++x) {
                const uint8_t* rgb = &sheet.rgb[(static_cast<size_t>(y) * sheet.width + x) * 3];
                if (rgb[0] != reference.cyan.At(x, y) || rgb[1] != reference.magenta.At(x, y) ||
                    rgb[2] != reference.yellow.At(x, y))
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
            }
        }
        return ::testing::AssertionSuccess();
    }

    // One job attribute as text, "" when missing.
    std::string JobAttribute(int job, const char* name)
    {
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        const std::string uri = "ipp://localhost/jobs/" + std::to_string(job);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
        ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
        std::string text;
        if (ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO)) {
            char buffer[1024];
            ippAttributeString(attr, buffer, sizeof buffer);
            text = buffer;
        }
        ippDelete(response);
        return text;
    }

    // The last page_log line of `job`, "" when none.
    std::string PageLogLine(int job)
    {
        std::ifstream in(m_cupsd->root() + "/log/page_log");
        std::string line;
        std::string last;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string queue, user, id;
            fields >> queue >> user >> id;
            if (id == std::to_string(job))
                last = line;
        }
        return last;
    }

    std::unique_ptr<vantora_test::PrivateCupsd> m_cupsd;
    std::string m_preload;
    TempDir m_docs;
    TempDir m_state;
};

std::string MakePdf(const TempDir& dir)
{
    const std::string ps = dir.Path("bands.ps");
    FILE* file = std::fopen(ps.c_str(), "w");
    std::fputs("%!PS\n<< /PageSize [288 432] >> setpagedevice\n"
               "1 0.5 0 setrgbcolor 0 0 288 144 rectfill\n0 0.6 0.3 setrgbcolor 0 144 288 144 rectfill\n"
               "0.2 0.2 1 setrgbcolor 0 288 288 144 rectfill\nshowpage\n",
               file);
    std::fclose(file);
    const std::string pdf = dir.Path("bands.pdf");
    RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", "-sOutputFile=" + pdf, ps},
               "", "");
    return pdf;
}

TEST_F(PrintPath, PhotoAndPdfPrintedWithLpMatchTheFilterChainAndShowTheMedia)
{
    Control("set " + serial() + " remain 120");
    // lpinfo lists the printer through the backend's discovery.
    const FilterRun listed = RunProgram("/usr/sbin/lpinfo", {"--include-schemes", "vantora-zpxbackend", "-v"}, "", "");
    EXPECT_NE(std::string(listed.output.begin(), listed.output.end())
                  .find(std::string("direct ") + kUriPrefix + serial() + "\n"),
              std::string::npos)
        << listed.errors;

    // CUPS finds the driver by the device ID the backend reports.
    const FilterRun detailed =
        RunProgram("/usr/sbin/lpinfo", {"--include-schemes", "vantora-zpxbackend", "-l", "-v"}, "", "");
    const std::string details(detailed.output.begin(), detailed.output.end());
    const size_t idAt = details.find("device-id = ");
    ASSERT_NE(idAt, std::string::npos) << details;
    const std::string deviceId = details.substr(idAt + 12, details.find('\n', idAt) - idAt - 12);
    EXPECT_EQ(deviceId.rfind("MFG:VANTORA;MDL:RT-50;", 0), 0u) << deviceId;
    const FilterRun drivers = RunProgram("/usr/sbin/lpinfo", {"--device-id", deviceId, "-m"}, "", "");
    EXPECT_EQ(std::string(drivers.output.begin(), drivers.output.end()).rfind("VANTORA_RT-50.ppd VANTORA RT-50\n", 0),
              0u)
        << drivers.errors;

    const std::string queue = AddQueue("VANTORA-RT-50", serial());
    const std::string photo = VANTORA_TEST_PHOTO;
    const std::string pdf = MakePdf(m_docs);
    const int photoJob = Submit(queue, photo);
    const int pdfJob = Submit(queue, pdf);
    ASSERT_GT(photoJob, 0) << cupsLastErrorString();
    ASSERT_GT(pdfJob, 0) << cupsLastErrorString();
    EXPECT_TRUE(WaitForJob(photoJob, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_TRUE(WaitForJob(pdfJob, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();

    const std::vector<Recorded> sheets = Sheets(serial());
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_TRUE(SameSheet(sheets[0], FilterChain(photo)));
    EXPECT_TRUE(SameSheet(sheets[1], FilterChain(pdf)));

    EXPECT_EQ(PrinterAttribute(queue, "marker-types"), "inkCartridge");
    EXPECT_EQ(PrinterAttribute(queue, "marker-names"), "Ribbon and paper");
    const int level = std::atoi(PrinterAttribute(queue, "marker-levels").c_str());
    EXPECT_TRUE(level == 40 || level == 39) << level;   // 120 or 119 of 300 left when asked
    EXPECT_EQ(PrinterAttribute(queue, "printer-state"), "idle");
    // Counted where CUPS and IPP clients look.
    EXPECT_NE(PageLogLine(photoJob).find(" total 1 "), std::string::npos) << PageLogLine(photoJob);
    EXPECT_EQ(JobAttribute(pdfJob, "job-impressions-completed"), "1");
}

TEST_F(PrintPath, TwoPrintersPrintAtOnce)
{
    const std::string second = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(second));
    const std::string first = AddQueue("VANTORA-RT-50", serial());
    const std::string other = AddQueue("VANTORA-RT-50-2", second);
    const int one = Submit(first, VANTORA_TEST_PHOTO);
    const int two = Submit(other, VANTORA_TEST_PHOTO);
    EXPECT_TRUE(WaitForJob(one, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_TRUE(WaitForJob(two, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(serial()).size(), 1u);
    EXPECT_EQ(Sheets(second).size(), 1u);
}

// A class of two printers, the second stopped at first. A job that meets
// the first at ribbon end waits there while the second is stopped and
// goes to it once it is enabled; one that meets the first out of paper
// after it took a sheet prints the rest on the second, and the first
// prints the sheet it holds once it has paper: every sheet once. The
// stopped queue shows why; page_log and the job's attributes count every
// sheet, also after the move.
TEST_F(PrintPath, AClassJobMovesToTheSisterPrinterAndEverySheetIsCountedOnce)
{
    const std::string second = "RT50TEST0002";
    ASSERT_TRUE(emulator().AddPrinter(second));
    const std::string first = AddQueue("VANTORA-RT-50", serial());
    const std::string other = AddQueue("VANTORA-RT-50-2", second);
    ASSERT_EQ(m_cupsd->Run({"lpadmin", "-p", first, "-c", "kiosk"}), 0);
    ASSERT_EQ(m_cupsd->Run({"lpadmin", "-p", other, "-c", "kiosk"}), 0);
    ASSERT_EQ(m_cupsd->Run({"cupsenable", "kiosk"}), 0);
    ASSERT_EQ(m_cupsd->Run({"cupsaccept", "kiosk"}), 0);
    // The sister waits stopped, so that the job meets the first printer.
    ASSERT_EQ(m_cupsd->Run({"cupsdisable", other}), 0);
    cups_option_t* options = nullptr;
    const int count = cupsAddOption("copies", "2", 0, &options);

    Control("set " + serial() + " status 1200");
    const int ribbonless = cupsPrintFile("kiosk", VANTORA_TEST_PHOTO, "test", count, options);
    ASSERT_GT(ribbonless, 0) << cupsLastErrorString();
    ASSERT_TRUE(WaitUntil(90, [&] {
        return PrinterAttribute(first, "printer-state-reasons").find("marker-print-ribbon-empty-error") !=
               std::string::npos;
    })) << m_cupsd->ErrorLog();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(PrinterAttribute(first, "printer-state"), "processing") << "no sister queue was enabled";
    ASSERT_EQ(m_cupsd->Run({"cupsenable", other}), 0);
    ASSERT_TRUE(WaitUntil(90, [&] { return PrinterAttribute(first, "printer-state") == "stopped"; }))
        << m_cupsd->ErrorLog();
    EXPECT_NE(PrinterAttribute(first, "printer-state-reasons").find("marker-print-ribbon-empty-error"),
              std::string::npos);
    EXPECT_NE(PrinterAttribute(first, "printer-state-message").find("Ribbon end"), std::string::npos)
        << PrinterAttribute(first, "printer-state-message");
    std::ifstream mark(m_state.Path("failover/" + serial()));
    std::string queueLine;
    std::getline(mark, queueLine);
    EXPECT_EQ(queueLine, "queue=" + first);
    EXPECT_TRUE(WaitForJob(ribbonless, IPP_JSTATE_COMPLETED, 90)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(serial()).size(), 0u);
    EXPECT_EQ(Sheets(second).size(), 2u);
    EXPECT_EQ(JobAttribute(ribbonless, "job-impressions-completed"), "2");
    EXPECT_EQ(JobAttribute(ribbonless, "job-media-sheets-completed"), "2");
    EXPECT_EQ(PageLogLine(ribbonless).rfind("kiosk ", 0), 0u) << PageLogLine(ribbonless);
    EXPECT_NE(PageLogLine(ribbonless).find(" total 2 "), std::string::npos) << PageLogLine(ribbonless);

    // One print of paper left: the first printer takes a sheet, refuses
    // the next, and the job moves with its record.
    Control("set " + serial() + " status 0");
    Control("set " + serial() + " remain 1");
    Control("set " + serial() + " printms 2000");
    ASSERT_EQ(m_cupsd->Run({"cupsenable", first}), 0);
    ASSERT_EQ(m_cupsd->Run({"cupsdisable", other}), 0);
    const int count3 = cupsAddOption("copies", "3", count, &options);
    const int paperless = cupsPrintFile("kiosk", VANTORA_TEST_PHOTO, "test", count3, options);
    cupsFreeOptions(count3, options);
    ASSERT_GT(paperless, 0) << cupsLastErrorString();
    ASSERT_TRUE(WaitUntil(90, [&] {
        return PrinterAttribute(first, "printer-state-reasons").find("media-empty-error") != std::string::npos;
    })) << m_cupsd->ErrorLog();
    ASSERT_EQ(m_cupsd->Run({"cupsenable", other}), 0);
    ASSERT_TRUE(WaitUntil(90, [&] { return PrinterAttribute(first, "printer-state") == "stopped"; }))
        << m_cupsd->ErrorLog();
    EXPECT_NE(PrinterAttribute(first, "printer-state-reasons").find("media-empty-error"), std::string::npos);
    EXPECT_TRUE(WaitForJob(paperless, IPP_JSTATE_COMPLETED, 90)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(second).size(), 4u);
    EXPECT_EQ(JobAttribute(paperless, "job-impressions-completed"), "3");
    EXPECT_NE(PageLogLine(paperless).find(" total 3 "), std::string::npos) << PageLogLine(paperless);
    Control("set " + serial() + " remain 50");
    Control("set " + serial() + " status 0");
    EXPECT_TRUE(WaitUntil(30, [&] { return Sheets(serial()).size() == 1; }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(Sheets(serial()).size(), 1u);
    EXPECT_EQ(Sheets(second).size(), 4u);
    EXPECT_EQ(ShownFor(serial(), "errors"), "0");
    EXPECT_EQ(ShownFor(second, "errors"), "0");

    // Unplugged: the job leaves it after a few seconds.
    Control("unplug " + serial());
    ASSERT_EQ(m_cupsd->Run({"cupsenable", first}), 0);
    ASSERT_EQ(m_cupsd->Run({"cupsdisable", other}), 0);
    const int unplugged = cupsPrintFile("kiosk", VANTORA_TEST_PHOTO, "test", 0, nullptr);
    ASSERT_GT(unplugged, 0) << cupsLastErrorString();
    ASSERT_TRUE(WaitUntil(90, [&] {
        return PrinterAttribute(first, "printer-state-reasons").find("offline-report") != std::string::npos;
    })) << m_cupsd->ErrorLog();
    ASSERT_EQ(m_cupsd->Run({"cupsenable", other}), 0);
    ASSERT_TRUE(WaitUntil(90, [&] { return PrinterAttribute(first, "printer-state") == "stopped"; }))
        << m_cupsd->ErrorLog();
    // CUPS drops offline-report when the job ends (for any scheme but
    // usb:); the message stays.
    EXPECT_NE(PrinterAttribute(first, "printer-state-message").find("The printer is not connected"), std::string::npos)
        << PrinterAttribute(first, "printer-state-message");
    EXPECT_TRUE(WaitForJob(unplugged, IPP_JSTATE_COMPLETED, 90)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(second).size(), 5u);
    EXPECT_NE(PageLogLine(unplugged).find(" total 1 "), std::string::npos) << PageLogLine(unplugged);
}

// Submits `document` with one option; returns the job id, or 0.
int SubmitWith(const std::string& queue, const std::string& document, const char* name, const char* value)
{
    cups_option_t* options = nullptr;
    const int count = cupsAddOption(name, value, 0, &options);
    const int job = cupsPrintFile(queue.c_str(), document.c_str(), "test", count, options);
    cupsFreeOptions(count, options);
    return job;
}

// Submits `document` as an IPP client that names the size only by its
// dimensions (media-col, hundredths of mm); returns the job id, or 0.
int SubmitWithMediaCol(const std::string& queue, const std::string& document, int width, int length)
{
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    const std::string uri = "ipp://localhost/printers/" + queue;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/jpeg");
    ipp_t* size = ippNew();
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
    ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
    ipp_t* col = ippNew();
    ippAddCollection(col, IPP_TAG_ZERO, "media-size", size);
    ippAddCollection(request, IPP_TAG_JOB, "media-col", col);
    ippDelete(size);
    ippDelete(col);
    ipp_t* response = cupsDoFileRequest(CUPS_HTTP_DEFAULT, request, ("/printers/" + queue).c_str(), document.c_str());
    ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
    const int job = id != nullptr ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    return job;
}

// The queue advertises the sizes by their standard names, and a photo asked
// for by any name of its size prints the very sheet the PPD's name gives.
TEST_F(PrintPath, StandardSizeNamesPrintThePpdSizesSheet)
{
    const std::string queue = AddQueue("VANTORA-RT-50", serial());
    const std::string supported = PrinterAttribute(queue, "media-supported");
    EXPECT_NE(supported.find("na_index-4x6_4x6in"), std::string::npos) << supported;
    EXPECT_EQ(supported.find("107.19"), std::string::npos) << supported;
    EXPECT_EQ(PrinterAttribute(queue, "media-default"), "na_index-4x6_4x6in");

    const std::string photo = VANTORA_TEST_PHOTO;
    std::vector<int> jobs = {SubmitWith(queue, photo, "PageSize", "102x153mm")};
    for (const char* name : {"na_index-4x6_4x6in", "4x6", "w288h432"})
        jobs.push_back(SubmitWith(queue, photo, "media", name));
    jobs.push_back(SubmitWithMediaCol(queue, photo, 10160, 15240));
    // A size the printer's 4x6 media takes besides 4x6.
    jobs.push_back(SubmitWith(queue, photo, "PageSize", "102x102mm"));
    jobs.push_back(SubmitWith(queue, photo, "media", "oe_square-photo_4x4in"));
    for (int job : jobs) {
        ASSERT_GT(job, 0) << cupsLastErrorString();
        EXPECT_TRUE(WaitForJob(job, IPP_JSTATE_COMPLETED)) << job << m_cupsd->ErrorLog();
    }
    const std::vector<Recorded> sheets = Sheets(serial());
    ASSERT_EQ(sheets.size(), jobs.size());
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(sheets[i].rgb, sheets[0].rgb) << "sheet " << i + 1;
        EXPECT_EQ(sheets[i].height, sheets[0].height);
    }
    EXPECT_EQ(sheets[6].rgb, sheets[5].rgb);
    EXPECT_LT(sheets[5].height, sheets[0].height);
}

// A job the filter refuses (a page size the printer does not have), or the
// photo front end refuses (a damaged photo), ends with its reason at once
// instead of being retried, and the queue prints the next job.
TEST_F(PrintPath, RefusedJobsEndWithTheirReasonAndTheNextPrints)
{
    const std::string queue = AddQueue("VANTORA-RT-50", serial());
    const std::string damaged = m_docs.Path("damaged.jpg");
    {
        std::ifstream in(VANTORA_TEST_PHOTO, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(damaged, std::ios::binary);
        out << bytes.substr(0, bytes.size() / 3);
    }
    const int a4 = SubmitWith(queue, VANTORA_TEST_PHOTO, "PageSize", "A4");
    const int broken = Submit(queue, damaged);
    const int next = Submit(queue, VANTORA_TEST_PHOTO);
    ASSERT_GT(a4, 0);
    ASSERT_GT(broken, 0);
    ASSERT_GT(next, 0);
    EXPECT_TRUE(WaitForJob(next, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    for (int job : {a4, broken}) {
        const int state = JobState(job);
        EXPECT_TRUE(state == IPP_JSTATE_STOPPED || state == IPP_JSTATE_ABORTED) << job << " " << state;
    }
    EXPECT_EQ(Sheets(serial()).size(), 1u);
    EXPECT_EQ(PrinterAttribute(queue, "printer-state"), "idle");
    const std::string log = m_cupsd->ErrorLog();
    // The scheduler's log escapes the quotes around the name.
    EXPECT_NE(log.find("A4\\\" is not supported by the RT-50"), std::string::npos) << log;
    EXPECT_EQ(log.find("Job held for"), std::string::npos) << log;
    EXPECT_EQ(log.find("will be retried"), std::string::npos) << log;
}

// Unplugged in the middle of a plane, out of paper, cancelled inside a
// plane: no job is lost, reported done too early, or left in the printer.
TEST_F(PrintPath, UnplugPaperEndAndCancelDuringJobs)
{
    const std::string queue = AddQueue("VANTORA-RT-50", serial());
    Control("fault " + serial() + " unplugafter 3000000");
    const int unplugged = Submit(queue, VANTORA_TEST_PHOTO);
    ASSERT_TRUE(WaitUntil(60, [&] { return ShownFor(serial(), "plugged") == "0"; }));
    EXPECT_EQ(JobState(unplugged), IPP_JSTATE_PROCESSING);
    EXPECT_NE(PrinterAttribute(queue, "printer-state-reasons").find("offline-report"), std::string::npos);
    Control("plug " + serial());
    EXPECT_TRUE(WaitForJob(unplugged, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(serial()).size(), 1u);

    Control("set " + serial() + " remain 0");
    const int paperless = Submit(queue, VANTORA_TEST_PHOTO);
    ASSERT_TRUE(WaitUntil(60, [&] {
        return PrinterAttribute(queue, "printer-state-reasons").find("media-empty-error") != std::string::npos;
    })) << m_cupsd->ErrorLog();
    EXPECT_EQ(JobState(paperless), IPP_JSTATE_PROCESSING);
    Control("set " + serial() + " remain 50");
    Control("set " + serial() + " status 0");
    EXPECT_TRUE(WaitForJob(paperless, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_EQ(PrinterAttribute(queue, "printer-state-reasons"), "none");
    EXPECT_EQ(Sheets(serial()).size(), 2u);

    Control("set " + serial() + " rate 1000000");
    const int cancelled = Submit(queue, VANTORA_TEST_PHOTO);
    ASSERT_TRUE(WaitUntil(60, [&] { return ShownFor(serial(), "stream").rfind("payload", 0) == 0; }));
    ASSERT_EQ(cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), cancelled, 0), IPP_STATUS_OK);
    EXPECT_TRUE(WaitForJob(cancelled, IPP_JSTATE_CANCELED));
    ASSERT_TRUE(WaitUntil(30, [&] { return PrinterAttribute(queue, "printer-state") == "idle"; }));
    EXPECT_EQ(ShownFor(serial(), "stream"), "idle");
    Control("set " + serial() + " rate 0");
    const int after = Submit(queue, VANTORA_TEST_PHOTO);
    EXPECT_TRUE(WaitForJob(after, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
    EXPECT_EQ(Sheets(serial()).size(), 3u);
    EXPECT_EQ(ShownFor(serial(), "errors"), "0");
}

// The USB monitor daemon as the service runs it, on the emulated bus: it
// runs under this program's preload libraries. Its process id.
pid_t StartDaemon(const std::string& preload)
{
    const pid_t daemon = fork();
    if (daemon == 0) {
        if (!preload.empty())
            setenv("LD_PRELOAD", preload.c_str(), 1);
        execl(VANTORA_USBMON_PROGRAM, VANTORA_USBMON_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    return daemon;
}

// One value of a status file, without its quotes; "?" when it has none.
std::string StatusValue(const std::string& path, const std::string& key)
{
    std::ifstream file(path);
    const std::string text = "\n" + std::string(std::istreambuf_iterator<char>(file), {});
    const size_t at = text.find("\n" + key + "=\"");
    if (at == std::string::npos)
        return "?";
    const size_t begin = at + key.size() + 3;
    return text.substr(begin, text.find('"', begin) - begin);
}

// The queue whose device URI names `printer`, once the daemon has made it;
// empty after `seconds`.
std::string QueueOf(const std::string& printer, int seconds)
{
    std::string queue;
    for (int i = 0; i < seconds * 10 && queue.empty(); ++i) {
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int d = 0; d < count; ++d) {
            const char* uri = cupsGetOption("device-uri", dests[d].num_options, dests[d].options);
            if (uri != nullptr && uri == kUriPrefix + printer)
                queue = dests[d].name;
        }
        cupsFreeDests(count, dests);
        if (queue.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return queue;
}

// The USB monitor daemon makes the printer's queue by itself, stays off the
// printer while the backend prints, and its status file shows the life
// counter one higher after the job.
TEST_F(PrintPath, DaemonMakesTheQueueAndCountsThePrintedSheet)
{
    Control("unplug " + serial());
    const std::string printer = "E2E" + std::to_string(getpid());
    ASSERT_TRUE(emulator().AddPrinter(printer));
    // The status window's watch file: while it exists the daemon keeps the
    // printer's status file fresh.
    const std::string watch = "/tmp/RT-50_" + printer + "_UTIL";
    const std::string status = "/tmp/RT-50_" + printer + ".log";
    std::fclose(std::fopen(watch.c_str(), "w"));
    const pid_t daemon = StartDaemon(m_preload);
    ASSERT_GT(daemon, 0);
    const std::string queue = QueueOf(printer, 30);
    EXPECT_FALSE(queue.empty()) << m_cupsd->ErrorLog();
    EXPECT_TRUE(WaitUntil(30, [&] { return StatusValue(status, "TOTAL_COUNT") == "0"; }));
    if (!queue.empty()) {
        const int job = Submit(queue, VANTORA_TEST_PHOTO);
        EXPECT_TRUE(WaitForJob(job, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
        EXPECT_TRUE(WaitUntil(30, [&] { return StatusValue(status, "TOTAL_COUNT") == "1"; }));
        EXPECT_EQ(StatusValue(status, "PRINTER_SERIAL_NO"), printer);
        EXPECT_EQ(Sheets(printer).size(), 1u);
    }
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
    unlink(watch.c_str());
    unlink(status.c_str());
}

// What the status window reads stays true during a job: the daemon stays
// off the printer while the backend holds it, and the backend keeps the
// watched printer's status file. A door opened while the sheet prints shows
// within a few seconds, printing once it is shut, then the printer ready
// with its new count.
TEST_F(PrintPath, StatusFileShowsADoorOpenedDuringAJob)
{
    Control("unplug " + serial());
    const std::string printer = "E2D" + std::to_string(getpid());
    ASSERT_TRUE(emulator().AddPrinter(printer));
    Control("set " + printer + " printms 3000");
    const std::string watch = "/tmp/RT-50_" + printer + "_UTIL";
    const std::string status = "/tmp/RT-50_" + printer + ".log";
    const std::string pause = "/tmp/Pause_vantora-zpxbackend:__VANTORA_RT-50?serial=" + printer;
    std::fclose(std::fopen(watch.c_str(), "w"));
    const pid_t daemon = StartDaemon(m_preload);
    ASSERT_GT(daemon, 0);
    const std::string queue = QueueOf(printer, 30);
    EXPECT_FALSE(queue.empty()) << m_cupsd->ErrorLog();
    EXPECT_TRUE(WaitUntil(30, [&] { return StatusValue(status, "TOTAL_COUNT") == "0"; }));
    if (!queue.empty()) {
        const int job = Submit(queue, VANTORA_TEST_PHOTO);
        EXPECT_TRUE(WaitUntil(60, [&] { return ShownFor(printer, "status") == "1"; })) << m_cupsd->ErrorLog();
        Control("set " + printer + " status 1000");
        EXPECT_TRUE(WaitUntil(5, [&] { return StatusValue(status, "PRINTER_STATUS") == "01000"; }))
            << StatusValue(status, "PRINTER_STATUS");
        // The backend still holds the printer: the daemon did not write it.
        EXPECT_EQ(access(pause.c_str(), F_OK), 0);
        EXPECT_EQ(StatusValue(status, "PRINTER_MESSAGE"), "00100");
        EXPECT_EQ(StatusValue(status, "MEDIA_REMAIN"), "300");
        Control("set " + printer + " status 0");
        EXPECT_TRUE(WaitUntil(5, [&] { return StatusValue(status, "PRINTER_STATUS") == "00001"; }))
            << StatusValue(status, "PRINTER_STATUS");
        EXPECT_TRUE(WaitForJob(job, IPP_JSTATE_COMPLETED)) << m_cupsd->ErrorLog();
        EXPECT_TRUE(WaitUntil(10, [&] {
            return StatusValue(status, "PRINTER_STATUS") == "00000" && StatusValue(status, "TOTAL_COUNT") == "1" &&
                   StatusValue(status, "MEDIA_REMAIN") == "299";
        }));
        EXPECT_EQ(Sheets(printer).size(), 1u);
    }
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
    unlink(watch.c_str());
    unlink(status.c_str());
}

}  // namespace
