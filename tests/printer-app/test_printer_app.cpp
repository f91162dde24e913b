// The printer application with an emulated RT-50: a photo printed over IPP
// (with ipptool, and with lp through a private CUPS scheduler and a
// driverless queue) comes out as the very sheet the CUPS queue's filter
// chain makes of it; state reasons and supplies follow the printer; a job
// survives the printer being unplugged and ends only when its sheet is
// printed.
#include "AppServer.h"
#include "CommandStream.h"
#include "FilterTestKit.h"
#include "Rt50EmulatorFixture.h"
#include "SheetRecorder.h"
#include "private_cupsd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using apptest::AppServer;
using apptest::WaitFor;

namespace {

class PrinterAppTest : public rt50emu::Rt50EmulatorTest {
protected:
    int PrintMs() const override { return 300; }

    void SetUp() override
    {
        // The programs started from here (the application, ipptool, gs,
        // CUPS) are not ours to leak-check under the sanitizers.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rt50emu::Rt50EmulatorTest::SetUp();
        std::string error;
        ASSERT_TRUE(apptest::EnterOwnNetwork(&error)) << error;
        ASSERT_TRUE(m_server.Start(serial())) << m_server.error();
    }

    void TearDown() override
    {
        EXPECT_TRUE(m_server.Stop()) << m_server.error();
        rt50emu::Rt50EmulatorTest::TearDown();
    }

    std::string SheetPath(int number) const
    {
        char name[64];
        std::snprintf(name, sizeof name, "-sheet-%04d.png", number);
        return outputFolder() + "/" + serial() + name;
    }

    // The sheet's record is complete once its text file follows the PNG.
    bool SheetRecorded(int number) const
    {
        std::string text = SheetPath(number);
        text.replace(text.size() - 3, 3, "txt");
        return std::filesystem::exists(text);
    }

    // The values of the printer's attributes `names`, each joined by ','
    // and the attributes by ' '.
    std::string PrinterValues(const std::vector<const char*>& names) const
    {
        ipp_t* response = m_server.PrinterAttributes(names);
        std::string text;
        for (const char* name : names)
            text += (text.empty() ? "" : " ") + AppServer::Values(response, name);
        ippDelete(response);
        return text;
    }

    std::string Reasons() const { return PrinterValues({"printer-state-reasons"}); }


    AppServer m_server;
    filtertest::TempDir m_files;
};

// The sheet the filter chain of the CUPS queue (vantora_rt50_photo: the
// photo front end filling the page, then the raster filter) makes of a photo
// with the PPD's defaults.
StreamSheet FilterChainSheet(const std::string& photo)
{
    filtertest::JobStartFile start;
    const filtertest::FilterRun run = filtertest::RunProgram(
        VANTORA_PHOTO_PROGRAM, {start.JobId(), "user", "photo", "1", "", photo}, filtertest::BuiltPpd(), "");
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    std::vector<StreamSheet> sheets;
    std::string error;
    EXPECT_TRUE(CollectSheets(filtertest::Packets(run.output), sheets, &error)) << error;
    EXPECT_EQ(sheets.size(), 1u);
    return sheets.empty() ? StreamSheet{} : sheets[0];
}

// Compares a recorded sheet with a sheet of the filter's stream, pixel by
// pixel (red from cyan, green from magenta, blue from yellow).
// A mismatch also shows the application's log lines about the job's
// settings from `serverLog`, when given.
void ExpectSameSheet(const std::string& png, const StreamSheet& sheet, const std::string& serverLog = "")
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(rt50emu::ReadPng(png, &width, &height, &rgb)) << png;
    ASSERT_EQ(width, sheet.cyan.width);
    ASSERT_EQ(height, sheet.cyan.height);
    long differing = 0;
    int largest = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            const int expected[3] = {sheet.cyan.At(x, y), sheet.magenta.At(x, y), sheet.yellow.At(x, y)};
            bool same = true;
            for (int c = 0; c < 3; ++c) {
                largest = std::max(largest, std::abs(pixel[c] - expected[c]));
                same = same && pixel[c] == expected[c];
            }
            if (!same && differing++ == 0) {
                firstX = x;
                firstY = y;
            }
        }
    }
    // A mismatch says how far off the sheet is (a shift or a rounding
    // differs by little, another rendering by much) and what the printer
    // recorded with it.
    std::string recorded;
    if (differing != 0) {
        std::ifstream text(png.substr(0, png.size() - 3) + "txt");
        recorded.assign(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
        std::ifstream log(serverLog);
        std::string line;
        int shown = 0;
        while (std::getline(log, line) && shown < 80) {
            for (const char* key : {"[Job ", "media", "scaling", "print-", "photo-", "resolution"}) {
                if (line.find(key) != std::string::npos) {
                    recorded += line.substr(0, 300) + "\n";
                    ++shown;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(differing, 0) << "of " << width * height << " pixels; first at " << firstX << "," << firstY
                            << ", largest difference " << largest << "; recorded:\n" << recorded;
}

TEST_F(PrinterAppTest, PhotoPrintsTheFilterChainsSheetAndCompletesOnlyWhenPrinted)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    const StreamSheet expected = FilterChainSheet(photo);

    // ipptool, as a person would print.
    const filtertest::FilterRun ipptool = filtertest::RunProgram(
        "/usr/bin/ipptool", {"-t", "-f", photo, "-d", "filetype=image/jpeg", m_server.PrinterUri(), "print-job.test"},
        "", "");
    ASSERT_EQ(ipptool.exitStatus, 0) << std::string(ipptool.output.begin(), ipptool.output.end());
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(1); }, 60000));
    ExpectSameSheet(SheetPath(1), expected);

    // A job is completed only once its sheet is printed: with a long
    // printing time it is still processing while the printer prints.
    emulator().Execute("set " + serial() + " printms 3000");
    const int job = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("status") == "1" && m_server.JobState(job) == IPP_JSTATE_PROCESSING; },
                        30000));
    struct timespec pause {1, 0};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(Shown("status"), "1");
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_PROCESSING);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 30000));
    EXPECT_EQ(Shown("status"), "0");
    EXPECT_TRUE(SheetRecorded(2));
    ExpectSameSheet(SheetPath(2), expected, m_server.folder() + "/server.log");
}

std::string SheetValue(const std::string& png, const std::string& key);

TEST_F(PrinterAppTest, DriverlessCupsQueuePrintsTheSameSheetAndItsSurfaceFinish)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    const StreamSheet expected = FilterChainSheet(photo);

    vantora_test::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Start()) << cupsd.error();
    ASSERT_EQ(cupsd.Run({"lpadmin", "-p", "kiosk", "-E", "-v", m_server.PrinterUri(), "-m", "everywhere"}), 0)
        << cupsd.ErrorLog();
    // The scheduler makes the queue's PPD after lpadmin has returned (and
    // has enabled the queue): a job sent before then finds no way to print.
    ASSERT_TRUE(WaitFor([&] { return cupsd.ErrorLog().find("Printer \"kiosk\" is now available.") != std::string::npos; },
                        60000))
        << cupsd.ErrorLog();
    // CUPS sends the photo as it is, and its copies with it.
    ASSERT_EQ(cupsd.Run({"lp", "-d", "kiosk", "-n", "2", photo}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(2); }, 240000)) << cupsd.ErrorLog();
    ExpectSameSheet(SheetPath(1), expected, m_server.folder() + "/server.log");
    ExpectSameSheet(SheetPath(2), expected, m_server.folder() + "/server.log");

    // A document prints borderless by default (the queue's default size is
    // the loaded media's borderless one, the first one ready), as many
    // times as asked.
    const std::string pdf = m_files.Path("postcard.pdf");
    const std::string ps = m_files.Path("postcard.ps");
    {
        std::ofstream file(ps);
        file << "%!PS\n<< /PageSize [288 432] >> setpagedevice\n0.2 0.4 0.8 setrgbcolor 0 0 288 432 rectfill\nshowpage\n";
    }
    ASSERT_EQ(filtertest::RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                                                     "-sOutputFile=" + pdf, ps}, "", "").exitStatus, 0);
    ASSERT_EQ(cupsd.Run({"lp", "-d", "kiosk", "-n", "2", pdf}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(4); }, 240000)) << cupsd.ErrorLog();
    for (int sheet : {3, 4}) {
        // White from the sheet's edge inwards along its middle row and
        // column: only the paper beside the 4x6 page (1266 dots wide), no
        // border on the page.
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(rt50emu::ReadPng(SheetPath(sheet), &width, &height, &rgb));
        auto white = [&](int x, int y) {
            const uint8_t* pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            return pixel[0] + pixel[1] + pixel[2] > 3 * 250;
        };
        int whiteColumns = 0, whiteRows = 0;
        while (whiteColumns < width && white(whiteColumns, height / 2))
            ++whiteColumns;
        while (whiteRows < height && white(width / 2, whiteRows))
            ++whiteRows;
        EXPECT_LE(whiteColumns, (width - 1266) / 2 + 2) << "sheet " << sheet;
        EXPECT_LE(whiteRows, 2) << "sheet " << sheet;
    }
    struct timespec pause {1, 0};
    nanosleep(&pause, nullptr);
    EXPECT_FALSE(SheetRecorded(5));

    // The surface finish: CUPS drops the application's own overcoat-finish,
    // but its PPD offers the overcoats as finishing templates, and the one
    // chosen, by the PPD's name or the printer's, is the sheet's overcoat
    // (matte: 1, fine matte: 21).
    std::ifstream ppdFile(cupsd.root() + "/etc/ppd/kiosk.ppd");
    const std::string ppd((std::istreambuf_iterator<char>(ppdFile)), std::istreambuf_iterator<char>());
    for (const char* choice : {"Glossy", "Matte", "FineMatte", "Luster"})
        EXPECT_NE(ppd.find(std::string("*cupsFinishingTemplate ") + choice + ":"), std::string::npos) << choice;
    ASSERT_EQ(cupsd.Run({"lp", "-d", "kiosk", "-o", "cupsFinishingTemplate=FineMatte", photo}), 0) << cupsd.ErrorLog();
    ASSERT_EQ(cupsd.Run({"lp", "-d", "kiosk", "-o", "cupsFinishingTemplate=matte", photo}), 0) << cupsd.ErrorLog();
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(6); }, 240000)) << cupsd.ErrorLog();
    EXPECT_EQ(SheetValue(SheetPath(5), "OVERCOAT"), "00000021");
    EXPECT_EQ(SheetValue(SheetPath(6), "OVERCOAT"), "00000001");
    EXPECT_EQ(SheetValue(SheetPath(1), "OVERCOAT"), "00000000");

    // An IPP client's own overcoat-finish wins over its finishings-col; a
    // coating alone chooses too (luster: 22).
    auto finish = [&](const char* overcoat, const char* templateName, const char* coatingType) {
        ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/jpeg");
        if (overcoat != nullptr)
            ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "overcoat-finish", nullptr, overcoat);
        ipp_t* finishing = ippNew();
        if (templateName != nullptr)
            ippAddString(finishing, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr, templateName);
        if (coatingType != nullptr) {
            ipp_t* coating = ippNew();
            ippAddString(coating, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "coating-type", nullptr, coatingType);
            ippAddCollection(finishing, IPP_TAG_ZERO, "coating", coating);
            ippDelete(coating);
        }
        ippAddCollection(request, IPP_TAG_JOB, "finishings-col", finishing);
        ippDelete(finishing);
        ipp_t* response = m_server.Send(request, m_server.PrinterResource(), {}, photo);
        const bool taken = response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
        ippDelete(response);
        return taken;
    };
    ASSERT_TRUE(finish("luster", "matte", nullptr));
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(7); }, 60000));
    ASSERT_TRUE(finish(nullptr, nullptr, "matte"));
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(8); }, 60000));
    EXPECT_EQ(SheetValue(SheetPath(7), "OVERCOAT"), "00000022");
    EXPECT_EQ(SheetValue(SheetPath(8), "OVERCOAT"), "00000001");
}

// A recorded sheet's value from its text file ("PIXELS_PER_METRE_Y", ...).
std::string SheetValue(const std::string& png, const std::string& key)
{
    std::ifstream text(png.substr(0, png.size() - 3) + "txt");
    std::string line;
    while (std::getline(text, line)) {
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return "";
}

// True when every pixel of the sheet is grey (the three planes agree).
bool SheetIsGrey(const std::string& png)
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    if (!rt50emu::ReadPng(png, &width, &height, &rgb))
        return false;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        if (rgb[i] != rgb[i + 1] || rgb[i + 1] != rgb[i + 2])
            return false;
    }
    return true;
}

TEST_F(PrinterAppTest, RasterPagesPrintAtTheirOwnResolutionCountedOnceAndInGreyWhenAsked)
{
    auto colourful = [](unsigned x, unsigned y, uint8_t rgb[3]) {
        rgb[0] = static_cast<uint8_t>(x);
        rgb[1] = static_cast<uint8_t>(y);
        rgb[2] = static_cast<uint8_t>(x + y);
    };
    filtertest::RasterPage fine;
    fine.width = 2532;
    fine.height = 3672;
    fine.xdpi = fine.ydpi = 600;
    fine.pixel = colourful;
    filtertest::RasterPage plain;
    plain.pixel = colourful;
    const std::string finePath = m_files.Path("fine.ras"), plainPath = m_files.Path("plain.ras");
    ASSERT_TRUE(filtertest::WriteRasterFile(finePath, {fine}));
    ASSERT_TRUE(filtertest::WriteRasterFile(plainPath, {plain}));

    // The document's 600 dpi, whatever the printer's default.
    const int fineJob = m_server.PrintFile(finePath, "image/pwg-raster");
    ASSERT_GT(fineJob, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(fineJob) == IPP_JSTATE_COMPLETED; }, 60000));
    EXPECT_EQ(SheetValue(SheetPath(1), "PIXELS_PER_METRE_Y"), "23622");
    EXPECT_EQ(m_server.JobValue(fineJob, "job-impressions-completed"), "1");

    // Two copies in monochrome at 300 dpi: two grey sheets, two impressions.
    const int greyJob = m_server.PrintFile(plainPath, "image/pwg-raster", 2, "monochrome");
    ASSERT_GT(greyJob, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(greyJob) == IPP_JSTATE_COMPLETED; }, 60000));
    ASSERT_TRUE(SheetRecorded(3));
    EXPECT_FALSE(SheetRecorded(4));
    EXPECT_EQ(SheetValue(SheetPath(2), "PIXELS_PER_METRE_Y"), "11811");
    EXPECT_TRUE(SheetIsGrey(SheetPath(2)));
    EXPECT_TRUE(SheetIsGrey(SheetPath(3)));
    EXPECT_FALSE(SheetIsGrey(SheetPath(1)));
    EXPECT_EQ(m_server.JobValue(greyJob, "job-impressions-completed"), "2");
}

TEST_F(PrinterAppTest, DocumentsItDoesNotPrintAreRefusedUpFront)
{
    const std::string ps = m_files.Path("letter.ps");
    {
        std::ofstream file(ps);
        file << "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Letter) show showpage\n";
    }
    auto request = [&](ipp_op_t operation, const char* format, int jobId = 0) {
        ipp_t* ipp = ippNewRequest(operation);
        ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, m_server.PrinterUri().c_str());
        if (jobId > 0)
            ippAddInteger(ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
        ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        if (operation == IPP_OP_SEND_DOCUMENT)
            ippAddBoolean(ipp, IPP_TAG_OPERATION, "last-document", 1);
        if (format != nullptr)
            ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
        return ipp;
    };
    // The status of the answer; its message in `message` when given.
    auto status = [&](ipp_t* ipp, const std::string& file, std::string* message = nullptr) {
        ipp_t* response = m_server.Send(ipp, m_server.PrinterResource(), {}, file);
        const ipp_status_t code = response != nullptr ? ippGetStatusCode(response) : cupsLastError();
        if (message != nullptr)
            *message = AppServer::Values(response, "status-message");
        ippDelete(response);
        return code;
    };
    auto jobCount = [&] {
        ipp_t* ipp = request(IPP_OP_GET_JOBS, nullptr);
        ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
        ipp_t* response = m_server.Send(ipp, m_server.PrinterResource());
        const std::string ids = AppServer::Values(response, "job-id");
        ippDelete(response);
        return ids;
    };

    // Neither advertised nor taken: announced, sent, or typed by its bytes.
    ipp_t* attributes = m_server.PrinterAttributes({"document-format-supported"});
    EXPECT_EQ(AppServer::Values(attributes, "document-format-supported"),
              "application/octet-stream,image/pwg-raster,image/urf,application/pdf,image/avif,image/heic,image/heif,"
              "image/jpeg,image/png");
    ippDelete(attributes);
    EXPECT_EQ(status(request(IPP_OP_VALIDATE_JOB, "application/postscript"), ""),
              IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(status(request(IPP_OP_VALIDATE_JOB, "image/jpeg"), ""), IPP_STATUS_OK);
    // The client is told the format and why, not PAPPL's "No file in
    // request.", and the server goes on serving.
    std::string message;
    EXPECT_EQ(status(request(IPP_OP_PRINT_JOB, "application/postscript"), ps, &message),
              IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(message, "The format \"application/postscript\" is not printed: send PDF, JPEG, PNG, HEIC/HEIF/AVIF, "
                       "PWG or Apple raster.");
    EXPECT_EQ(status(request(IPP_OP_PRINT_JOB, "application/octet-stream"), ps, &message),
              IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(message, "The document is application/postscript, which is not printed: send PDF, JPEG, PNG, "
                       "HEIC/HEIF/AVIF, PWG or Apple raster.");
    EXPECT_EQ(jobCount(), "");

    // A job made first keeps waiting for a document it can print.
    ipp_t* created = m_server.Send(request(IPP_OP_CREATE_JOB, nullptr), m_server.PrinterResource());
    ipp_attribute_t* id = created != nullptr ? ippFindAttribute(created, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr);
    const int job = ippGetInteger(id, 0);
    ippDelete(created);
    EXPECT_EQ(status(request(IPP_OP_SEND_DOCUMENT, "application/postscript", job), ps, &message),
              IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
    EXPECT_NE(message.find("application/postscript"), std::string::npos) << message;
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_HELD);
    EXPECT_EQ(status(request(IPP_OP_CANCEL_JOB, nullptr, job), ""), IPP_STATUS_OK);

    // A page it cannot print ends its job with the reason, in the job's
    // state message and on the jobs page.
    filtertest::RasterPage wide;
    wide.width = 20001;
    wide.height = 2;
    wide.pixel = [](unsigned, unsigned, uint8_t rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0; };
    const std::string widePath = m_files.Path("wide.ras");
    ASSERT_TRUE(filtertest::WriteRasterFile(widePath, {wide}));
    const int aborted = m_server.PrintFile(widePath, "image/pwg-raster");
    ASSERT_GT(aborted, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(aborted) == IPP_JSTATE_ABORTED; }, 30000));
    const std::string reason = m_server.JobValue(aborted, "job-state-message");
    EXPECT_NE(reason.find("printable size"), std::string::npos) << reason;
    std::string page;
    EXPECT_EQ(m_server.WebStatus("/VANTORA-RT-50_" + serial() + "/jobs", {apptest::kAdminUser, apptest::kAdminPassword},
                                 nullptr, &page),
              HTTP_STATUS_OK);
    EXPECT_NE(page.find(reason), std::string::npos) << page;

    // A JPEG larger than the advertised limit is refused before it is taken.
    const std::string huge = m_files.Path("huge.jpg");
    ASSERT_TRUE(apptest::MakePhoto(huge, 17000, 16));
    EXPECT_EQ(status(request(IPP_OP_PRINT_JOB, "image/jpeg"), huge, &message), IPP_STATUS_ERROR_REQUEST_ENTITY);
    EXPECT_EQ(message, "The photo is 17000 x 16 pixels; at most 16384 x 16384 are printed.");

    // So is a photo over the file limit (73 MB; 64 MiB taken), by its told
    // length, before it is spooled; the server goes on serving.
    EXPECT_EQ(status(request(IPP_OP_PRINT_JOB, "image/jpeg"), VANTORA_TEST_PHOTOS "/padded.jpg"),
              IPP_STATUS_ERROR_REQUEST_ENTITY);
    EXPECT_NE(m_server.Log().find("The document is too large (73.4 MB; at most 64 MiB)."), std::string::npos);
    EXPECT_EQ(status(request(IPP_OP_VALIDATE_JOB, "image/jpeg"), ""), IPP_STATUS_OK);
}

// The colour of the sheet at (x, y): 'r', 'g', 'b', 'w' (white) or '?'.
char SheetColour(const std::string& png, double x, double y)
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    if (!rt50emu::ReadPng(png, &width, &height, &rgb))
        return '?';
    const uint8_t* p = &rgb[(static_cast<size_t>(y * (height - 1)) * width + static_cast<size_t>(x * (width - 1))) * 3];
    if (p[0] > 240 && p[1] > 240 && p[2] > 240)
        return 'w';
    for (int c = 0; c < 3; ++c) {
        if (p[c] > p[(c + 1) % 3] + 60 && p[c] > p[(c + 2) % 3] + 60)
            return "rgb"[c];
    }
    return '?';
}

TEST_F(PrinterAppTest, PdfPagesPrintInTheirRangeCollatedAndADamagedPdfSaysWhy)
{
    // A red and a blue postcard round a green Letter page.
    const std::string ps = m_files.Path("three.ps"), pdf = m_files.Path("three.pdf");
    {
        std::ofstream file(ps);
        file << "%!PS\n<< /PageSize [288 432] >> setpagedevice 1 0 0 setrgbcolor 0 0 288 432 rectfill showpage\n"
                "<< /PageSize [612 792] >> setpagedevice 0 0.7 0 setrgbcolor 0 0 612 792 rectfill showpage\n"
                "<< /PageSize [288 432] >> setpagedevice 0 0 1 setrgbcolor 0 0 288 432 rectfill showpage\n";
    }
    ASSERT_EQ(filtertest::RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                                                     "-sOutputFile=" + pdf, ps}, "", "").exitStatus, 0);
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
    ippAddRange(request, IPP_TAG_JOB, "page-ranges", 2, 3);
    ipp_t* response = m_server.Send(request, m_server.PrinterResource(), {}, pdf);
    ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    ASSERT_NE(id, nullptr) << (response != nullptr ? ippGetStatusCode(response) : cupsLastError());
    const int job = ippGetInteger(id, 0);
    ippDelete(response);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 120000))
        << m_server.JobValue(job, "job-state-message");
    // Green, blue, green, blue; the Letter page shown whole (paper above
    // it), the postcard filling its sheet.
    std::string colours, tops;
    for (int sheet = 1; sheet <= 4; ++sheet) {
        colours += SheetColour(SheetPath(sheet), 0.5, 0.5);
        tops += SheetColour(SheetPath(sheet), 0.5, 0.01);
    }
    EXPECT_EQ(colours, "gbgb");
    EXPECT_EQ(tops, "wbwb");
    EXPECT_FALSE(SheetRecorded(5));
    EXPECT_EQ(m_server.JobValue(job, "job-impressions-completed"), "4");

    const std::string damaged = m_files.Path("damaged.pdf");
    {
        std::ofstream file(damaged);
        file << "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\nnot a PDF at all\n";
    }
    const int refused = m_server.PrintFile(damaged, "application/pdf");
    ASSERT_GT(refused, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(refused) == IPP_JSTATE_ABORTED; }, 60000));
    const std::string reason = m_server.JobValue(refused, "job-state-message");
    EXPECT_EQ(reason.rfind("The PDF ", 0), 0u) << reason;
    EXPECT_FALSE(SheetRecorded(5));
}

TEST_F(PrinterAppTest, StateReasonsAndSuppliesFollowThePrinterAndTheSettingsDefaultsStay)
{
    // Photo settings' defaults set by an administrator stay when the
    // supplies change.
    ASSERT_EQ(m_server.Command({"modify", "-d", "VANTORA-RT-50_" + serial(), "-o", "photo-sharpness=5", "-o",
                                "photo-border=white"}), 0);
    auto defaults = [&] { return PrinterValues({"photo-sharpness-default", "photo-border-default"}); };
    EXPECT_EQ(defaults(), "5 white");

    auto level = [&] { return PrinterValues({"marker-levels", "printer-supply-description"}); };
    EXPECT_TRUE(WaitFor([&] { return level().rfind("100 ", 0) == 0; }, 5000)) << level();
    EXPECT_EQ(Reasons(), "none");

    emulator().Execute("set " + serial() + " remain 15");
    // The supply keeps its name; its level follows the prints left.
    EXPECT_TRUE(WaitFor([&] { return level() == "5 Ribbon and paper"; }, 5000)) << level();
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("media-low") != std::string::npos; }, 5000)) << Reasons();
    EXPECT_EQ(defaults(), "5 white");

    const struct {
        const char* status;
        const char* reason;
    } kStates[] = {{"1000", "cover-open"}, {"1100", "media-empty"}, {"1200", "marker-supply-empty"},
                   {"1300", "media-jam"}, {"2100", "other"}};
    for (const auto& state : kStates) {
        emulator().Execute("set " + serial() + " status " + state.status);
        EXPECT_TRUE(WaitFor([&] { return Reasons().find(state.reason) != std::string::npos; }, 5000))
            << state.status << ": " << Reasons();
    }
    emulator().Execute("set " + serial() + " status 0");
    emulator().Execute("set " + serial() + " remain 250");
    EXPECT_TRUE(WaitFor([&] { return Reasons() == "none"; }, 5000)) << Reasons();

    emulator().Execute("unplug " + serial());
    EXPECT_TRUE(WaitFor([&] { return Reasons().find("offline") != std::string::npos; }, 5000)) << Reasons();
    emulator().Execute("plug " + serial());
    EXPECT_TRUE(WaitFor([&] { return Reasons() == "none"; }, 8000)) << Reasons();
}

// Each job uses up prints and so changes the supply level: the supply keeps
// one description and one name however many jobs, updates and restarts
// there were.
TEST_F(PrinterAppTest, SupplyIsDescribedOnceAfterJobsAndUpdates)
{
    const std::string photo = m_files.Path("few.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 600, 400));
    for (int i = 1; i <= 3; ++i) {
        const int job = m_server.PrintFile(photo, "image/jpeg");
        ASSERT_GT(job, 0);
        ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 60000)) << i;
        emulator().Execute("set " + serial() + " remain " + std::to_string(200 - 10 * i));
    }
    EXPECT_TRUE(WaitFor([&] { return PrinterValues({"marker-levels"}) == "56"; }, 8000))
        << PrinterValues({"marker-levels"});
    EXPECT_EQ(PrinterValues({"printer-supply-description", "marker-names"}), "Ribbon and paper Ribbon and paper");
    // ... and after a restart on the saved state, and one more job.
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    const int job = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 60000));
    EXPECT_EQ(PrinterValues({"printer-supply-description", "marker-names"}), "Ribbon and paper Ribbon and paper");
    // Nor do the finishing templates (one per overcoat).
    ipp_t* response = m_server.PrinterAttributes(
        {"printer-supply", "printer-supply-description", "marker-names", "finishings-col-database"});
    const std::pair<const char*, int> expected[] = {
        {"printer-supply", 1}, {"printer-supply-description", 1}, {"marker-names", 1}, {"finishings-col-database", 4}};
    for (const auto& [name, count] : expected) {
        int copies = 0;
        for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;
             attr = ippNextAttribute(response))
            copies += ippGetName(attr) != nullptr && std::string(ippGetName(attr)) == name ? ippGetCount(attr) : 0;
        EXPECT_EQ(copies, count) << name;
    }
    ippDelete(response);
}

// SIGTERM (systemd's stop) ends the application at once, whatever its jobs
// do, and loses none of them: a job waiting for an unplugged printer, the
// job queued behind it (PAPPL may have started both) and a job stopped
// between its sheets print after the next start, each sheet once.
TEST_F(PrinterAppTest, EndsPromptlyOnSigtermAndKeepsItsJobs)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    emulator().Execute("unplug " + serial());
    const int waiting = m_server.PrintFile(photo, "image/jpeg");
    const int queued = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(waiting, 0);
    ASSERT_GT(queued, 0);
    // PAPPL may start the first job before the queue holds it, or the
    // queue may hold it first, or release it to PAPPL, which starts it once
    // the printer is back: either way it waits for the printer.
    ASSERT_TRUE(WaitFor(
        [&] {
            const int state = m_server.JobState(waiting);
            return state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_PENDING ||
                   (state == IPP_JSTATE_HELD &&
                    m_server.JobValue(waiting, "job-state-reasons").find("job-queued") != std::string::npos);
        },
        60000))
        << m_server.JobState(waiting) << " " << m_server.JobValue(waiting, "job-state-reasons");
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    EXPECT_LT(m_server.JobState(waiting), IPP_JSTATE_STOPPED);
    emulator().Execute("plug " + serial());
    ASSERT_TRUE(WaitFor(
        [&] {
            return m_server.JobState(waiting) == IPP_JSTATE_COMPLETED &&
                   m_server.JobState(queued) == IPP_JSTATE_COMPLETED;
        },
        120000))
        << m_server.JobState(waiting) << " " << m_server.JobState(queued);
    EXPECT_TRUE(SheetRecorded(2));
    EXPECT_FALSE(SheetRecorded(3));

    // Stopped while the first of three copies prints: the other two print
    // after the start, the first not again.
    emulator().Execute("set " + serial() + " printms 1500");
    const int copies = m_server.PrintFile(photo, "image/jpeg", 3);
    ASSERT_GT(copies, 0);
    ASSERT_TRUE(WaitFor([&] { return SheetRecorded(3); }, 120000));
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(copies) == IPP_JSTATE_COMPLETED; }, 120000))
        << m_server.JobState(copies);
    EXPECT_TRUE(SheetRecorded(5));
    EXPECT_FALSE(SheetRecorded(6));
    // Each of its sheets counted once, whichever run printed it.
    EXPECT_EQ(m_server.JobValue(copies, "job-impressions-completed"), "3");
    EXPECT_EQ(m_server.JobValue(copies, "job-media-sheets-completed"), "3");

    // A sheet that prints for longer than a stop may take: the printer has
    // it whole, so the job counts as done.
    emulator().Execute("set " + serial() + " printms 60000");
    const int printing = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(printing, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("status") == "1"; }, 120000));
    ASSERT_TRUE(m_server.Restart()) << m_server.error();
    // Judged once the application has its printer again.
    EXPECT_TRUE(WaitFor([&] { return m_server.JobState(printing) == IPP_JSTATE_COMPLETED; }, 120000))
        << m_server.JobState(printing);
    EXPECT_TRUE(SheetRecorded(6));
    EXPECT_FALSE(SheetRecorded(7));
    EXPECT_EQ(Shown("errors"), "0");
}

TEST_F(PrinterAppTest, UnpluggedPrinterKeepsTheJobAndPrintsItWhenBack)
{
    const std::string photo = m_files.Path("phone.jpg");
    ASSERT_TRUE(apptest::MakePhoto(photo, 1200, 900));
    // The printer leaves in the middle of the first plane.
    emulator().Execute("fault " + serial() + " unplugafter 1000000");
    const int job = m_server.PrintFile(photo, "image/jpeg");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return Shown("plugged") == "0"; }, 30000)) << Shown("plugged");
    ASSERT_TRUE(WaitFor([&] { return Reasons().find("offline") != std::string::npos; }, 5000)) << Reasons();
    // Gone for a while: the job waits instead of ending.
    struct timespec pause {1, 0};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(m_server.JobState(job), IPP_JSTATE_PROCESSING);
    EXPECT_FALSE(SheetRecorded(1));

    emulator().Execute("plug " + serial());
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 30000))
        << m_server.JobState(job);
    ASSERT_TRUE(SheetRecorded(1));
    EXPECT_FALSE(SheetRecorded(2));
    EXPECT_EQ(Shown("errors"), "0");
    ExpectSameSheet(SheetPath(1), FilterChainSheet(photo));
}

// A one-page PDF that takes poppler seconds to draw: a form of 2000 small
// squares drawn 3000 times.
void WriteSlowPdf(const std::string& path)
{
    std::string form, content;
    for (int i = 0; i < 2000; ++i)
        form += std::to_string(i * 7 % 288) + " " + std::to_string(i * 13 % 432) + " 3 3 re f\n";
    for (int i = 0; i < 3000; ++i)
        content += "q /F Do Q\n";
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 288 432] /Contents 4 0 R /Resources << /XObject << /F 5 0 R >> "
        ">> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /XObject /Subtype /Form /BBox [0 0 288 432] /Length " + std::to_string(form.size()) +
            " >>\nstream\n" + form + "endstream"};
    std::string pdf = "%PDF-1.4\n", xref;
    int number = 0;
    for (const std::string& object : objects) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(++number) + " 0 obj\n" + object + "\nendobj\n";
    }
    const size_t start = pdf.size();
    pdf += "xref\n0 6\n0000000000 65535 f \n" + xref + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" +
           std::to_string(start) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << pdf;
}

// Whether `parent` has a child process running `program`.
bool ChildRuns(pid_t parent, const std::string& program)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces, not ')'.
        const size_t close = line.rfind(')');
        const size_t open = line.find('(');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && line.compare(open + 1, close - open - 1, program) == 0)
            return true;
    }
    return false;
}

// Photos the front end refuses (here a truncated JPEG) abort the job with
// the reason in the job's log; a Cancel-Job while a large photo is decoded
// or a PDF page is drawn ends the job without a sheet. (The photos are the
// photo tests'.)
TEST_F(PrinterAppTest, RefusedPhotoAbortsAndCancelStopsDecodingAndDrawing)
{
    const int refused = m_server.PrintFile(VANTORA_TEST_PHOTOS "/truncated.jpg", "image/jpeg");
    ASSERT_GT(refused, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(refused) == IPP_JSTATE_ABORTED; }, 30000))
        << m_server.JobState(refused);
    EXPECT_NE(m_server.Log().find("The photo is damaged: VipsJpeg: Premature end of"), std::string::npos);

    // Cancels the job once it is processing and `started` holds; true when
    // it then ends canceled.
    const auto printAndCancel = [&](const std::string& path, const char* format, auto started) {
        const int job = m_server.PrintFile(path, format);
        return job > 0 &&
               WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_PROCESSING && started(); }, 30000) &&
               m_server.CancelJob(job) &&
               WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_CANCELED; }, 30000);
    };
    // 81 megapixels of PNG: most of a second of decoding, more under the
    // sanitizers.
    EXPECT_TRUE(printAndCancel(VANTORA_TEST_PHOTOS "/large.png", "image/png", [] { return true; }));
    EXPECT_FALSE(SheetRecorded(1));

    // A PDF's renderer, once drawing, is stopped, not waited for.
    const std::string slow = m_files.Path("slow.pdf");
    WriteSlowPdf(slow);
    EXPECT_TRUE(printAndCancel(slow, "application/pdf", [&] { return ChildRuns(m_server.pid(), "pdftoppm"); }));
    EXPECT_NE(m_server.Log().find("The PDF renderer was stopped: the job was canceled."), std::string::npos);
    EXPECT_FALSE(SheetRecorded(1));
}

// A phone's HEIC photo (or an AVIF) prints the very sheet the CUPS queue
// makes of it, declared as HEIC or HEIF or sent untyped, turned by HEIF's own transform
// properties and not by an EXIF tag (the photo tests check those sheets);
// a damaged one ends its job with the format and the reason in the job's
// message.
TEST_F(PrinterAppTest, HeicPrintsTheCupsQueuesSheetAndADamagedOneSaysWhy)
{
    const struct {
        const char* photo;
        const char* format;
    } cases[] = {
        {"scene.heic", "image/heic"},
        {"heif-irot-exif.heic", "application/octet-stream"},
        {"heif-exif-only.heic", "image/heif"},
        {"scene.avif", "application/octet-stream"},
    };
    int sheet = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.photo);
        const std::string photo = std::string(VANTORA_TEST_PHOTOS "/") + c.photo;
        const int job = m_server.PrintFile(photo, c.format);
        ASSERT_GT(job, 0);
        ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_COMPLETED; }, 60000))
            << m_server.JobState(job) << " " << m_server.JobValue(job, "job-state-message");
        ++sheet;
        ASSERT_TRUE(WaitFor([&] { return SheetRecorded(sheet); }, 30000));
        ExpectSameSheet(SheetPath(sheet), FilterChainSheet(photo), m_server.folder() + "/server.log");
    }

    const std::string damaged = m_files.Path("damaged.heic");
    {
        std::ifstream in(VANTORA_TEST_PHOTOS "/scene.heic", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(damaged, std::ios::binary) << bytes.substr(0, bytes.size() * 2 / 3);
    }
    const int job = m_server.PrintFile(damaged, "image/heic");
    ASSERT_GT(job, 0);
    ASSERT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_ABORTED; }, 60000)) << m_server.JobState(job);
    const std::string reason = m_server.JobValue(job, "job-state-message");
    EXPECT_EQ(reason.rfind("image/heic not printed: The photo is damaged", 0), 0u) << reason;

    // A HEIC over the photo file limit is refused by its told length, as a
    // JPEG is.
    const std::string padded = m_files.Path("padded.heic");
    std::filesystem::copy_file(VANTORA_TEST_PHOTOS "/scene.heic", padded);
    std::filesystem::resize_file(padded, 70u << 20);
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "image/heic");
    ipp_t* response = m_server.Send(request, m_server.PrinterResource(), {}, padded);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(ippGetStatusCode(response), IPP_STATUS_ERROR_REQUEST_ENTITY);
    EXPECT_EQ(AppServer::Values(response, "status-message"), "The document is too large (73.4 MB; at most 64 MiB).");
    ippDelete(response);
    EXPECT_FALSE(SheetRecorded(sheet + 1));
}

// The user id of the first child of `parent` named `program`; -1 when none.
long ChildUid(pid_t parent, const std::string& program)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line, name;
        long ppid = -1, uid = -1;
        while (std::getline(status, line)) {
            if (line.rfind("Name:\t", 0) == 0)
                name = line.substr(6);
            else if (line.rfind("PPid:\t", 0) == 0)
                ppid = std::stol(line.substr(6));
            else if (line.rfind("Uid:\t", 0) == 0)
                uid = std::stol(line.substr(5));
        }
        if (ppid == parent && name == program)
            return uid;
    }
    return -1;
}

// Photos are decoded by the application started again as a caged decoder,
// not as root; a photo whose bytes are not its declared format, and a
// JPEG of 40,000 scans, are refused with their reason. (The hostile photos
// are the photo tests'.)
TEST_F(PrinterAppTest, PhotosAreDecodedCagedByTheirDeclaredFormatAndBombsAreRefused)
{
    const struct {
        const char* photo;
        const char* format;
        const char* reason;
    } cases[] = {
        {"scan-bomb.jpg", "image/jpeg", "The photo has too many scans (more than 100)."},
        {"mismatch.tif", "image/jpeg", "The photo was sent as JPEG but is a TIFF file."},
        {"grid-bomb.heic", "image/png", "The photo was sent as PNG but is a HEIF file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.photo);
        const int job = m_server.PrintFile(std::string(VANTORA_TEST_PHOTOS "/") + c.photo, c.format);
        ASSERT_GT(job, 0);
        EXPECT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_ABORTED; }, 60000))
            << m_server.JobState(job);
        EXPECT_NE(m_server.Log().find(c.reason), std::string::npos);
    }
    EXPECT_FALSE(SheetRecorded(1));

    // While the 81-megapixel PNG decodes, the decoder service is a child of
    // the application ("exe": started through /proc/self/exe) running as
    // nobody.
    const int job = m_server.PrintFile(VANTORA_TEST_PHOTOS "/large.png", "image/png");
    ASSERT_GT(job, 0);
    long uid = -1;
    EXPECT_TRUE(WaitFor([&] { return (uid = ChildUid(m_server.pid(), "exe")) >= 0; }, 30000));
    EXPECT_EQ(uid, geteuid() == 0 ? 65534 : static_cast<long>(geteuid()));
    EXPECT_TRUE(m_server.CancelJob(job));
    EXPECT_TRUE(WaitFor([&] { return m_server.JobState(job) == IPP_JSTATE_CANCELED; }, 30000));
}

}  // namespace
