// kelosim: one simulated device on one pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "SimDevice.h"
#include "SimLine.h"
#include "SimOptions.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int)
{
    gStop = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    if (!ParseSimOptions(argc, argv, &options))
        return 2;

    SimLine line;
    std::string error;
    if (!line.Open(&error)) {
        std::fprintf(stderr, "kelosim: %s\n", error.c_str());
        return 1;
    }
    line.SetTrace(options.trace);
    line.SetPace(options.paceBaud);

    SimDevice device(options, line);
    if (!device.Start(&error)) {
        std::fprintf(stderr, "kelosim: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty()) {
        // Only an old link of ours makes way; a file or device there stays.
        struct stat existing {};
        if (::lstat(options.link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
            ::unlink(options.link.c_str());
        if (::symlink(line.SlavePath().c_str(), options.link.c_str()) != 0) {
            std::perror("kelosim: cannot make the --link symlink");
            return 1;
        }
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("ready %s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    while (!gStop) {
        std::string in = line.Poll(10);
        if (!in.empty())
            device.OnBytes(in.data(), in.size());
        device.OnTick(SimLine::NowMs());
    }
    device.Shutdown();
    int status = 0;
    if (!options.statsFile.empty()) {
        std::FILE* stats = std::fopen(options.statsFile.c_str(), "w");
        bool written = stats && std::fprintf(stats, "rx=%llu tx=%llu\n",
                                             static_cast<unsigned long long>(line.BytesIn()),
                                             static_cast<unsigned long long>(line.BytesOut())) > 0;
        if (stats && std::fclose(stats) != 0)
            written = false;
        if (!written) {
            std::perror("kelosim: cannot write the --stats file");
            status = 1;
        }
    }
    struct stat ours {};
    if (!options.link.empty() && ::lstat(options.link.c_str(), &ours) == 0 && S_ISLNK(ours.st_mode))
        ::unlink(options.link.c_str());
    return status;
}
