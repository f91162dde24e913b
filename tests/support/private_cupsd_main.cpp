// private-cupsd: runs a command against a private CUPS scheduler, for shell
// tests and for trying queues by hand.
//
//   private-cupsd [--ppd FILE] [--filter PROG]... [--backend PROG]...
//                 [--cupsd-conf LINE]... [--files-conf LINE]... -- COMMAND [ARG]...
//
// --files-conf adds a line to cups-files.conf, e.g. "SetEnv UMOCKDEV_DIR /tmp/umockdev.X".
// The command sees the scheduler through CUPS_SERVER (and PRIVATE_CUPSD_ROOT
// names its root). Exit status: the command's, or 125 when the scheduler did
// not start.
#include "private_cupsd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    vantora_test::CupsdOptions options;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "private-cupsd: %s needs a value\n", argv[i]);
            return 125;
        }
        if (std::strcmp(argv[i], "--ppd") == 0)
            options.ppd = argv[++i];
        else if (std::strcmp(argv[i], "--filter") == 0)
            options.filters.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--backend") == 0)
            options.backends.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--cupsd-conf") == 0)
            options.cupsdConf.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--files-conf") == 0)
            options.filesConf.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--run-limit") == 0)
            options.runLimitSeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: private-cupsd [--ppd FILE] [--filter PROG]... [--backend PROG]... "
                                 "[--cupsd-conf LINE]... [--files-conf LINE]... [--run-limit SECONDS] -- COMMAND [ARG]...\n");
            return 125;
        }
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr, "private-cupsd: no command given\n");
        return 125;
    }

    vantora_test::PrivateCupsd cupsd(options);
    if (!cupsd.Start()) {
        std::fprintf(stderr, "private-cupsd: %s\n", cupsd.error().c_str());
        return 125;
    }
    setenv("PRIVATE_CUPSD_ROOT", cupsd.root().c_str(), 1);
    std::vector<std::string> command(argv + i + 1, argv + argc);
    const int status = cupsd.Run(command);
    cupsd.Stop();
    return status < 0 ? 125 : status;
}
