#include "FuzzFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        // In memory where there is such a folder: on a disk, rewriting one
        // small file thousands of times a second waits on the disk.
        std::error_code ignored;
        std::string pattern = std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
        pattern += "/kelo-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

ScratchFolder& Scratch()
{
    static ScratchFolder folder;
    return folder;
}

}  // namespace

std::string fuzz_files::PathOf(const char* name)
{
    return Scratch().path + "/" + name;
}

void fuzz_files::WriteFile(const std::string& path, const uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}
