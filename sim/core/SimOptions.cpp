#include "SimOptions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string SimOptions::FaultValue(const std::string& name, const std::string& fallback) const
{
    auto it = faults.find(name);
    if (it == faults.end() || it->second.empty())
        return fallback;
    return it->second;
}

long SimOptions::FaultNumber(const std::string& name, long fallback) const
{
    std::string value = FaultValue(name);
    if (value.empty())
        return fallback;
    char* end = nullptr;
    long number = std::strtol(value.c_str(), &end, 10);
    return (end && *end == '\0') ? number : fallback;
}

std::string SimOptions::SerialNumberOf(uint32_t n) const
{
    std::size_t start = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const std::size_t comma = sn.find(',', start);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return sn.substr(start, sn.find(',', start) - start);
}

void PrintSimHelp()
{
    std::puts(
        "kelosim: a simulated instrument, logger, radio modem and bootloader on a pseudo-terminal\n"
        "\n"
        "usage: kelosim [options]\n"
        "  --type WORD        model word (R7F, TELSO, JV, WN, WN30, MERV, NIVRA-TE, QX70, QX7B, KS,\n"
        "                     LC, QX7 ...); default R7F\n"
        "  --version X.YZ     firmware version the device starts with; default 3.51\n"
        "                     (--version last, without X.YZ: show kelosim's own version)\n"
        "  --sn TEXT          serial number; default KS000123 (with --devices, a comma\n"
        "                     list: one a device, the last one repeats)\n"
        "  --battery PCT      battery charge in percent; default 80\n"
        "  --bootloader       start inside the bootloader (no valid firmware)\n"
        "  --radio            a radio modem sits between the host and the logger\n"
        "  --state FILE       keep flash, settings and data in FILE across runs\n"
        "  --flash-dump FILE  write the 64 KiB flash image to FILE on exit\n"
        "  --link PATH        make PATH a symlink to the pseudo-terminal\n"
        "  --stats FILE       on exit write one line 'rx=N tx=N' to FILE: the bytes the\n"
        "                     device took in from the line and sent on it\n"
        "  --pace BAUD        move bytes at the line rate (10 bits a byte)\n"
        "  --restart-ms MS    time the device takes to restart; default 1500\n"
        "  --fault NAME[=V]   inject a fault (repeatable), listed below\n"
        "  --trace            print every byte in and out on stderr\n"
        "\n"
        "A station's tray (needs --link; --state and --flash-dump apply to no device):\n"
        "  --devices N        N devices, one after another on the link, each with a fresh\n"
        "                     flash and settings; kelosim ends when the last has left\n"
        "  --leave-idle MS    a device leaves (unplugged: the link and the port go away)\n"
        "                     once it restarted after an update, was spoken to, and then\n"
        "                     heard nothing for MS\n"
        "  --gap MS           from a device leaving to the next appearing; default 1000\n"
        "  --keep-port        the devices share one port that stays, as a fixed serial\n"
        "                     port does: a device that leaves stops answering, the port\n"
        "                     and the link stay, and the next device answers after --gap\n"
        "  SIGUSR1            the present device leaves now\n"
        "\n"
        "\n"
        "Faults of every device:\n"
        "  power-loss=N       the device goes dark when bootloader frame N+1 arrives\n"
        "  unplug=N           the cable is pulled when bootloader frame N+1 arrives: the\n"
        "                     line closes (frame 1 is the version query, the erase follows\n"
        "                     with 119 frames, then the upload)\n"
        "  unplug-restore=N   the cable is pulled once N settings have been written after\n"
        "                     the restart that ends an update (the N-th is stored but not\n"
        "                     answered); 0: as soon as the device restarts\n"
        "  bsl-refuse=N       every N-th bootloader frame is answered '-'\n"
        "  bsl-drop=N         every N-th byte to the bootloader is lost\n"
        "  bsl-corrupt=N      every N-th byte to the bootloader has a bit flipped\n"
        "  bsl-silent         the bootloader never answers\n"
        "  bsl-version=N      the bootloader reports version N (default 12)\n"
        "  bsl-late=N         the N-th \"W\" frame is written, but answered only after\n"
        "                     1000 ms, later than the host waits\n"
        "  no-bootloader      the boot command is answered \"KeloBSL MISSING\"\n"
        "  boot-error         the boot command is answered \"ERROR\"\n"
        "  dataflash-fail     the data erase answers \"DataFlash FAIL\"\n"
        "  blank-settings     the information flash starts blank\n"
        "  slow=MS            every interpreter answer starts MS ms late (instruments and\n"
        "                     loggers; the bootloader is not slowed)\n"
        "  set-fail=KEY       \"set -KEY ...\" is answered with the bare prompt (no OK) and\n"
        "                     nothing is stored (repeatable; instruments and loggers)\n"
        "Instruments (R7F TELSO JV WN MERV WN30 NIVRA-TE):\n"
        "  bare-sn            \"get -sn\" answers with the bare prompt (uninitialised)\n"
        "  unreadable=KEY     \"get -KEY\" is refused with ERROR (repeatable)\n"
        "  unwritable=KEY     \"set -KEY\" is refused with \"?\" (repeatable)\n"
        "  no-ok              write commands are answered without \"OK\"\n"
        "  corrupt-firmware   \"post\" answers \"Code Corrupt!\"\n"
        "  version-line=TEXT  \"get -ver\" answers TEXT\n"
        "  battery-text=TEXT  \"get -batt\" answers TEXT\n"
        "  set-garble=KEY     \"set -KEY V\" is answered OK but stores V with its last digit\n"
        "                     (or character) changed (repeatable)\n"
        "  frame-flip=KEY[:WHERE]  every answer to \"get -KEY\" has one bit flipped in its\n"
        "                     framing: WHERE is before (the CR before the value), after\n"
        "                     (the CR after it; the default) or prompt (the '>')\n"
        "  frame-flip-once=KEY[:WHERE]  the same for the first such answer only\n"
        "Loggers (QX70 QX7B KS LC, old firmware QX7):\n"
        "  relay-echo         every byte is echoed (by the modem with --radio)\n"
        "  silent-after=N     the logger answers N command lines, then nothing\n"
        "  unnamed            \"get -i\" answers with the bare prompt\n"
        "  refuse=TEXT        command lines starting with TEXT are answered ERROR\n"
        "  no-radio           no radio module: \"No Radio\"\n"
        "  awake              behind the radio: the logger starts awake\n"
        "  wake-after=N       behind the radio: carriage returns needed to wake (800)\n"
        "\n"
        "Prints 'ready <path>' on stdout once the port is open ('plugged <path>' for each\n"
        "later device of a tray, 'left' when one leaves); SIGTERM or SIGINT end it cleanly.");
}

bool ParseSimOptions(int argc, char** argv, SimOptions* o)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kelosim: %s needs a value\n", what);
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](const char* what, long* out) {
            const char* v = value(what);
            if (!v)
                return false;
            char* end = nullptr;
            *out = std::strtol(v, &end, 10);
            if (!end || *end != '\0' || *out < 0) {
                std::fprintf(stderr, "kelosim: %s needs a number, not '%s'\n", what, v);
                return false;
            }
            return true;
        };
        long n = 0;
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h") {
            PrintSimHelp();
            std::exit(0);
        } else if (arg == "--type") {
            if (!(v = value("--type")))
                return false;
            o->type = v;
        } else if (arg == "--version") {
            if (i + 1 == argc) {
                std::printf("kelosim %s\n", KELO_VERSION);
                std::exit(0);
            }
            if (!(v = value("--version")))
                return false;
            o->version = v;
        } else if (arg == "--sn") {
            if (!(v = value("--sn")))
                return false;
            o->sn = v;
        } else if (arg == "--battery") {
            if (!number("--battery", &n))
                return false;
            o->battery = static_cast<int>(n);
        } else if (arg == "--bootloader") {
            o->bootloader = true;
        } else if (arg == "--radio") {
            o->radio = true;
        } else if (arg == "--state") {
            if (!(v = value("--state")))
                return false;
            o->stateFile = v;
        } else if (arg == "--flash-dump") {
            if (!(v = value("--flash-dump")))
                return false;
            o->flashDump = v;
        } else if (arg == "--link") {
            if (!(v = value("--link")))
                return false;
            o->link = v;
        } else if (arg == "--stats") {
            if (!(v = value("--stats")))
                return false;
            o->statsFile = v;
        } else if (arg == "--pace") {
            if (!number("--pace", &n))
                return false;
            o->paceBaud = static_cast<uint32_t>(n);
        } else if (arg == "--restart-ms") {
            if (!number("--restart-ms", &n))
                return false;
            o->restartMs = static_cast<uint32_t>(n);
        } else if (arg == "--fault") {
            if (!(v = value("--fault")))
                return false;
            const char* eq = std::strchr(v, '=');
            if (eq)
                o->faults.emplace(std::string(v, eq), std::string(eq + 1));
            else
                o->faults.emplace(v, "");
        } else if (arg == "--devices") {
            if (!number("--devices", &n))
                return false;
            if (n < 1) {
                std::fprintf(stderr, "kelosim: --devices needs at least 1\n");
                return false;
            }
            o->devices = static_cast<uint32_t>(n);
        } else if (arg == "--leave-idle") {
            if (!number("--leave-idle", &n))
                return false;
            o->leaveIdleMs = static_cast<uint32_t>(n);
        } else if (arg == "--gap") {
            if (!number("--gap", &n))
                return false;
            o->gapMs = static_cast<uint32_t>(n);
        } else if (arg == "--keep-port") {
            o->keepPort = true;
        } else if (arg == "--trace") {
            o->trace = true;
        } else {
            std::fprintf(stderr, "kelosim: unknown option '%s' (try --help)\n", arg.c_str());
            return false;
        }
    }
    if (o->devices > 1 && o->link.empty()) {
        std::fprintf(stderr, "kelosim: --devices needs --link: the devices appear one after another there\n");
        return false;
    }
    if (o->keepPort && o->link.empty()) {
        std::fprintf(stderr, "kelosim: --keep-port needs --link: the port that stays\n");
        return false;
    }
    if (o->devices > 1 && (!o->stateFile.empty() || !o->flashDump.empty())) {
        std::fprintf(stderr, "kelosim: --state and --flash-dump keep one device; not with --devices\n");
        return false;
    }
    return true;
}
