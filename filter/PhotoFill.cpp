#include "PhotoFill.h"

#include "FilterJob.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/cups.h>

std::string FillPageOptions(const char* options)
{
    static const char* const kScalingOptions[] = {"print-scaling", "fill", "fit-to-page", "fitplot", "crop-to-fit",
                                                  "natural-scaling", "scaling", "ppi", "position"};
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(options, 0, &parsed);
    bool chosen = false;
    for (const char* name : kScalingOptions)
        chosen = chosen || cupsGetOption(name, count, parsed) != nullptr;
    cupsFreeOptions(count, parsed);
    std::string result = options != nullptr ? options : "";
    if (!chosen)
        result += result.empty() ? "print-scaling=fill" : " print-scaling=fill";
    return result;
}

namespace {

// Builds `environ` with PPD=`ppd` in place of any PPD setting into `storage`
// and `list` (null-terminated). False when memory ran out.
bool EnvironmentWithPpd(const char* ppd, std::string* storage, std::vector<char*>* list)
{
    list->clear();
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "PPD=", 4) != 0)
            list->push_back(*entry);
    }
    *storage = std::string("PPD=") + ppd;
    list->push_back(const_cast<char*>(storage->c_str()));
    list->push_back(nullptr);
    return true;
}

}  // namespace

pid_t StartImageToRaster(const ImageToRasterArgs& args, int* rasterFd)
{
    const char* serverBin = std::getenv("CUPS_SERVERBIN");
    char program[512];
    const int length = std::snprintf(program, sizeof program, "%s/filter/imagetoraster",
                                     serverBin != nullptr && serverBin[0] != '\0' ? serverBin : VANTORA_CUPS_SERVERBIN);
    if (length < 0 || length >= static_cast<int>(sizeof program)) {
        std::fprintf(stderr, "ERROR: The CUPS filter folder name is too long.\n");
        return -1;
    }
    const std::string options = FillPageOptions(args.options);
    std::string ppdSetting;
    std::vector<char*> environment;
    if (args.ppd != nullptr)
        EnvironmentWithPpd(args.ppd, &ppdSetting, &environment);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "ERROR: Cannot start imagetoraster.\n");
        return -1;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::fprintf(stderr, "ERROR: Cannot start imagetoraster.\n");
        return -1;
    }
    if (child == 0) {
        // A program that takes its stop signals in a thread of its own (the
        // printer application) blocks them; the filter takes them as usual.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(pipeFds[1], 1);
        char* childArgv[8] = {const_cast<char*>("imagetoraster"), const_cast<char*>(args.jobId),
                              const_cast<char*>(args.user), const_cast<char*>(args.title),
                              const_cast<char*>(args.copies), const_cast<char*>(options.c_str()),
                              const_cast<char*>(args.file), nullptr};
        if (args.ppd != nullptr)
            execve(program, childArgv, environment.data());
        else
            execv(program, childArgv);
        std::fprintf(stderr, "ERROR: Cannot run %s.\n", program);
        _exit(1);
    }
    close(pipeFds[1]);
    *rasterFd = pipeFds[0];
    return child;
}

bool WaitImageToRaster(pid_t child)
{
    int childStatus = 0;
    while (waitpid(child, &childStatus, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0;
}

int PhotoFilterMain(int argc, char* argv[])
{
    if (argc != 6 && argc != 7)
        return PrintUsage("vantora_rt50_photo");

    const ImageToRasterArgs args{argv[1], argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : nullptr, nullptr};
    int rasterFd = -1;
    const pid_t child = StartImageToRaster(args, &rasterFd);
    if (child < 0)
        return 1;

    // The job driver reads the raster from standard input.
    dup2(rasterFd, 0);
    close(rasterFd);
    char* driverArgv[7] = {argv[0], argv[1], argv[2], argv[3], argv[4], argv[5], nullptr};
    const int status = FilterMain(6, driverArgv);
    close(0);

    const bool childFailed = !WaitImageToRaster(child);
    if (status == 0 && childFailed && !Canceled)
        return 1;
    return status;
}
