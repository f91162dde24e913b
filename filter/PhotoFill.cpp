#include "PhotoFill.h"

#include "FilterJob.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

int PhotoFilterMain(int argc, char* argv[])
{
    if (argc != 6 && argc != 7)
        return PrintUsage("vantora_rt50_photo");

    const char* serverBin = std::getenv("CUPS_SERVERBIN");
    char program[512];
    const int length = std::snprintf(program, sizeof program, "%s/filter/imagetoraster",
                                     serverBin != nullptr && serverBin[0] != '\0' ? serverBin : VANTORA_CUPS_SERVERBIN);
    if (length < 0 || length >= static_cast<int>(sizeof program)) {
        std::fprintf(stderr, "ERROR: The CUPS filter folder name is too long.\n");
        return 1;
    }
    const std::string options = FillPageOptions(argv[5]);

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::fprintf(stderr, "ERROR: Cannot start imagetoraster.\n");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::fprintf(stderr, "ERROR: Cannot start imagetoraster.\n");
        return 1;
    }
    if (child == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        char* childArgv[8] = {const_cast<char*>("imagetoraster"), argv[1], argv[2], argv[3], argv[4],
                              const_cast<char*>(options.c_str()), argc == 7 ? argv[6] : nullptr, nullptr};
        execv(program, childArgv);
        std::fprintf(stderr, "ERROR: Cannot run %s.\n", program);
        _exit(1);
    }

    // The job driver reads the raster from standard input.
    dup2(pipeFds[0], 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
    char* driverArgv[7] = {argv[0], argv[1], argv[2], argv[3], argv[4], argv[5], nullptr};
    const int status = FilterMain(6, driverArgv);
    close(0);

    int childStatus = 0;
    while (waitpid(child, &childStatus, 0) < 0) {
        if (errno != EINTR)
            break;
    }
    const bool childFailed = !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0;
    if (status == 0 && childFailed && !Canceled)
        return 1;
    return status;
}
