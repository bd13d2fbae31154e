#include "DataFolder.h"

#include <filesystem>

#include <shlobj.h>
#include <windows.h>

std::string DefaultDataFolder()
{
    namespace fs = std::filesystem;
    fs::path base;
    char appData[MAX_PATH];
    char program[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, appData) == S_OK) {
        base = fs::path(appData) / "Tessaly" / "KeloBSL";
    } else {
        // No application-data folder: the program's own folder.
        const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            base = fs::path(program).parent_path();
    }
    return base.string();
}
