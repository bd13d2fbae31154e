#include "PortPath.h"

#include <cstring>

std::string PortDevicePath(const std::string& name)
{
    if (name.empty() || (name.size() >= 2 && name[0] == '\\' && name[1] == '\\'))
        return name;
    return "\\\\.\\" + name;
}

std::string PortPathForPeople(const std::string& name)
{
    return name;
}

bool SameDevicePath(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

std::string PortGroup(const std::string&)
{
    return "dialout";
}
