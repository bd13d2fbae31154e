// kelosim: one simulated device on one pseudo-terminal, or (--devices N) a
// station's tray of them plugged in one after another on one --link.
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "SimDevice.h"
#include "SimLine.h"
#include "SimOptions.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gLeave = 0;

void OnSignal(int)
{
    gStop = 1;
}

void OnLeave(int)
{
    gLeave = 1;
}

// Only an old link of ours goes; a file or device there stays.
void RemoveLink(const std::string& link)
{
    struct stat existing {};
    if (!link.empty() && ::lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
        ::unlink(link.c_str());
}

// Sleeps ms, or less when asked to stop.
void PauseUnlessStopped(uint32_t ms)
{
    const uint32_t start = SimLine::NowMs();
    while (!gStop && SimLine::NowMs() - start < ms)
        ::usleep(10000);
}

struct Traffic {
    unsigned long long in = 0;
    unsigned long long out = 0;
};

// Opens a device's line; false with a message.
bool OpenLine(const SimOptions& options, SimLine* line)
{
    std::string error;
    if (!line->Open(&error)) {
        std::fprintf(stderr, "kelosim: %s\n", error.c_str());
        return false;
    }
    line->SetTrace(options.trace);
    line->SetPace(options.paceBaud);
    return true;
}

// A port that stays between two devices: whatever the host sends meets no
// device, and is gone before the next one starts.
void IdleLine(SimLine& line, uint32_t ms)
{
    const uint32_t start = SimLine::NowMs();
    while (!gStop && SimLine::NowMs() - start < ms)
        line.Poll(10);
}

// Plugs in the n-th device, runs it until it leaves or kelosim is stopped,
// then unplugs it. shared: the port that stays (--keep-port), else the device
// brings its own. 0, or 1 when it could not be plugged in.
int RunDevice(const SimOptions& tray, uint32_t n, Traffic* traffic, SimLine* shared)
{
    SimOptions options = tray;
    options.sn = tray.SerialNumberOf(n);

    SimLine own;
    if (!shared && !OpenLine(options, &own))
        return 1;
    SimLine& line = shared ? *shared : own;
    const uint64_t inBefore = line.BytesIn();
    const uint64_t outBefore = line.BytesOut();

    std::string error;
    SimDevice device(options, line);
    if (!device.Start(&error)) {
        std::fprintf(stderr, "kelosim: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty() && !(shared && n > 0)) {
        RemoveLink(options.link);
        if (::symlink(line.SlavePath().c_str(), options.link.c_str()) != 0) {
            std::perror("kelosim: cannot make the --link symlink");
            return 1;
        }
    }
    if (options.trace)
        std::fprintf(stderr, "%u -- plugged %s\n", SimLine::NowMs(), line.SlavePath().c_str());
    std::printf("%s %s\n", n == 0 ? "ready" : "plugged", line.SlavePath().c_str());
    std::fflush(stdout);

    gLeave = 0;
    uint32_t lastHeard = SimLine::NowMs();
    bool updated = false;
    while (!gStop && !gLeave) {
        std::string in = line.Poll(10);
        const uint32_t now = SimLine::NowMs();
        if (!in.empty()) {
            lastHeard = now;
            device.OnBytes(in.data(), in.size());
        }
        device.OnTick(now);
        // Quiet counts once the host has spoken to the restarted device:
        // before that it may still be waiting out the restart.
        if (!updated && device.UpdatedAndRunning() && !in.empty())
            updated = true;
        if (options.leaveIdleMs && updated && !line.Sending() && now - lastHeard >= options.leaveIdleMs)
            break;
    }
    device.Shutdown();
    traffic->in += line.BytesIn() - inBefore;
    traffic->out += line.BytesOut() - outBefore;
    if (shared) {
        // The device is taken off a port that stays: it just stops answering.
        line.DropPending();
        if (!gStop) {
            std::printf("left\n");
            std::fflush(stdout);
        }
        return 0;
    }
    RemoveLink(options.link);
    if (!gStop) {
        // The cable is pulled: the port hangs up and its name goes away.
        line.Unplug();
        std::printf("left\n");
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    if (!ParseSimOptions(argc, argv, &options))
        return 2;

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    struct sigaction leave {};
    leave.sa_handler = OnLeave;
    sigaction(SIGUSR1, &leave, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Traffic traffic;
    SimLine port;
    if (options.keepPort && !OpenLine(options, &port))
        return 1;
    SimLine* shared = options.keepPort ? &port : nullptr;
    for (uint32_t n = 0; n < options.devices && !gStop; ++n) {
        if (n > 0 && shared)
            IdleLine(port, options.gapMs);
        else if (n > 0)
            PauseUnlessStopped(options.gapMs);
        if (gStop)
            break;
        if (RunDevice(options, n, &traffic, shared) != 0)
            return 1;
    }
    if (shared)
        RemoveLink(options.link);
    // One device without --leave-idle ends only when stopped: as before.

    int status = 0;
    if (!options.statsFile.empty()) {
        std::FILE* stats = std::fopen(options.statsFile.c_str(), "w");
        bool written = stats && std::fprintf(stats, "rx=%llu tx=%llu\n", traffic.in, traffic.out) > 0;
        if (stats && std::fclose(stats) != 0)
            written = false;
        if (!written) {
            std::perror("kelosim: cannot write the --stats file");
            status = 1;
        }
    }
    return status;
}
