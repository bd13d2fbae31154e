#include "DataFolder.h"

#include <cstdlib>
#include <filesystem>

std::string DefaultDataFolder()
{
    namespace fs = std::filesystem;
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = fs::path(xdg) / "Tessaly" / "KeloBSL";
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".local" / "share" / "Tessaly" / "KeloBSL";
    return base.string();
}
