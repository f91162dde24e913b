#include "BackendMain.h"

#include "CancelSignal.h"
#include "CupsMessages.h"
#include "DiscoveryLine.h"
#include "ExchangeFiles.h"
#include "FailoverMarks.h"
#include "JobFiles.h"
#include "PrinterCounts.h"
#include "BackendJob.h"
#include "PrinterFinder.h"
#include "QueueJobs.h"
#include "UsbTransfer.h"

#include <cups/backend.h>
#include <cups/cups.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vantora_backend {

namespace {

// A printer answers a query within milliseconds; one that does not within
// this time is confused (a client died inside a command) or gone.
constexpr unsigned int kQueryTimeoutMs = 3000;
// The job data pipe holds this much, so that the filter runs ahead while a
// transfer waits.
constexpr int kPipeSize = 1024 * 1024;
// The jobs' records: a root-only folder of the package. The scheduler's
// environment may name another (tests do).
constexpr char kRecordsFolder[] = "/var/lib/vantora-rt50/jobs";
constexpr char kRecordsVariable[] = "VANTORA_RT50_JOB_RECORDS";

// The job-uuid among the job's options; empty when it has none.
std::string JobUuidOf(const char* options)
{
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(options, 0, &parsed);
    const char* uuid = cupsGetOption("job-uuid", count, parsed);
    std::string value = uuid != nullptr ? uuid : "";
    cupsFreeOptions(count, parsed);
    return value;
}

// The job id argument as a number; 0 for anything but 1 to 9 digits.
int JobIdOf(const char* text)
{
    const size_t length = strnlen(text, 10);
    if (length == 0 || length > 9 || std::strspn(text, "0123456789") != length)
        return 0;
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

int Discover(FILE* listing)
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return CUPS_BACKEND_OK;   // no USB: nothing to list
    for (const FoundPrinter& printer : ListPrinters(context, SerialSource::kAskPrinter)) {
        const std::string line = DiscoveryLine(printer);
        if (!line.empty())
            std::fprintf(listing, "%s\n", line.c_str());
    }
    std::fflush(listing);
    libusb_exit(context);
    return CUPS_BACKEND_OK;
}

}  // namespace

int RunBackend(int argc, char** argv, FILE* out, FILE* listing)
{
    UsbTimeouts timeouts = GetUsbTimeouts();
    timeouts.bulkMs = kQueryTimeoutMs;
    SetUsbTimeouts(timeouts);
    if (argc == 1)
        return Discover(listing);

    CupsMessages messages(out);
    if (argc != 6 && argc != 7) {
        std::fprintf(out, "Usage: vantora-zpxbackend job-id user title copies options [file]\n");
        return CUPS_BACKEND_FAILED;
    }
    const char* uri = std::getenv("DEVICE_URI");
    if (uri == nullptr)
        uri = argv[0];
    const char* serial = vantora_exchange::SerialInDeviceUri(uri);
    if (!vantora_exchange::IsModelDeviceUri(uri) || !vantora_exchange::IsValidSerial(serial)) {
        messages.Error("The device URI names no RT-50 serial number: it must be %s<serial>",
                       vantora_exchange::kDeviceUriPrefix);
        return CUPS_BACKEND_STOP;
    }

    int input = 0;
    if (argc == 7) {
        input = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (input < 0) {
            messages.Error("Cannot open the job file");
            return CUPS_BACKEND_FAILED;
        }
    } else {
        fcntl(input, F_SETPIPE_SZ, kPipeSize);   // only a pipe takes it; nothing lost otherwise
    }

    InstallCancelHandler();
    JobFiles files(vantora_exchange::kExchangeDir);
    if (!files.StartJob(argv[1]))
        messages.Debug("No job start file for job %s", argv[1]);

    int code = CUPS_BACKEND_RETRY;
    libusb_context* context = nullptr;
    if (libusb_init(&context) == 0) {
        BackendJobSettings settings;
        settings.serial = serial;
        settings.input = input;
        settings.jobId = argv[1];
        settings.jobUuid = JobUuidOf(argv[5]);
        const char* records = std::getenv(kRecordsVariable);
        settings.recordsFolder = records != nullptr && records[0] == '/' ? records : kRecordsFolder;
        settings.countsFolder = vantora_delivery::PrinterCountsFolder();
        settings.failoverFolder = vantora_exchange::FailoverFolder();
        // CUPS names the class a job came through in CLASS.
        const char* jobClass = std::getenv("CLASS");
        if (jobClass != nullptr && jobClass[0] != '\0' && std::strlen(jobClass) < 128)
            settings.jobClass = jobClass;
        settings.scheduler = getppid();
        // CUPS names the queue in PRINTER and its own socket in CUPS_SERVER.
        const char* queue = std::getenv("PRINTER");
        const int jobId = JobIdOf(argv[1]);
        if (queue != nullptr)
            settings.queue = queue;
        if (queue != nullptr && !settings.jobClass.empty()) {
            const std::string name = settings.jobClass;
            settings.sisterReady = [name, queue] { return SisterQueueReady(name.c_str(), queue); };
        }
        if (queue != nullptr && jobId > 0)
            settings.otherJobsWaiting = [queue, jobId] { return OtherJobsWaiting(queue, jobId); };
        JobFigures figures;
        code = RunBackendJob(context, settings, files, messages, &figures);
        libusb_exit(context);
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        messages.Debug("Job figures: %d sheets (%d sent again, %d skipped as printed before, %d judged over time), %lld bytes in %.3f s of transfers, first data "
                       "after %.3f s, %s, CPU %.3f s user %.3f s system",
                       figures.sheets, figures.resent, figures.skipped, figures.undecided, figures.bytes, figures.sendSeconds, figures.firstDataSeconds,
                       figures.waitedForPrint ? "ended when printed" : "ended when taken",
                       usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6);
    } else {
        messages.Error("USB is not available; the job will be retried");
    }
    // A queue stopped for a sister printer keeps showing why.
    if (code != CUPS_BACKEND_STOP)
        messages.SetReasons({});
    files.RemoveAll();
    if (input != 0)
        close(input);
    return code;
}

}  // namespace vantora_backend
