// The bootloader's answers: invocation, version, erase, image and vector
// transfers. The first byte sets the tries, the rest is what the bootloader
// says (answers separated as FakeLine.h describes). The image is a small
// one, so a run stays short.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeLine.h"
#include "FuzzFiles.h"
#include "FuzzLog.h"
#include "KeloBSLHost.h"

namespace {

const char kSmallImage[] =
    "@1100\n00 11 22 33 44 55 66 77\n"
    "@E000\n31 40 00 3C 3F 40 00 00\n"
    "@FFE0\n00 E0 00 E0 00 E0 00 E0 00 E0 00 E0 00 E0 00 E0\n"
    "00 E0 00 E0 00 E0 00 E0 00 E0 00 E0 00 E0 00 E0\nq\n";

// Loaded once: every run writes the same image.
const std::shared_ptr<const FirmwareImage>& SmallImage()
{
    static const std::shared_ptr<const FirmwareImage> image = [] {
        std::string path = fuzz_files::PathOf("R7F-3-52.txt");
        fuzz_files::WriteFile(path, reinterpret_cast<const uint8_t*>(kSmallImage), sizeof kSmallImage - 1);
        std::shared_ptr<const FirmwareImage> loaded;
        if (FirmwareImage::Load(path.c_str(), FuzzLog(), &loaded) != 1)
            std::abort();
        return loaded;
    }();
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    KeloSerial port(FuzzLog());
    KeloBSLHost host(port, FuzzLog(), SmallImage());
    fake_line::Serve(data + 1, size - 1);

    const uint32_t tries = 1 + data[0] % 3;
    if (host.BSLConnect("fuzz", true, tries) >= 0) {
        host.SetProgressHook([](uint32_t, uint32_t, int, char) { return true; });
        if (host.BSLEraseFlash(0x1000, 0x1400) >= 0 && host.BSLSendFirmware() >= 0)
            host.BSLSendVectors();
        host.BSLDisconnect();
    }
    return 0;
}
