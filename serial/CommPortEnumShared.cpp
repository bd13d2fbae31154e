#include <cstdio>
#include <cstring>

#include "CommPortEnum.h"

namespace comm_port_enum_detail {

bool Contains(const CommPortEntry* entries, int filled, const char* name)
{
    for (int i = 0; i < filled; ++i)
        if (std::strcmp(entries[i].portName, name) == 0)
            return true;
    return false;
}

void SetEntry(CommPortEntry* entry, const char* name, const char* description)
{
    std::snprintf(entry->portName, sizeof entry->portName, "%s", name);
    // The description part is cut at 40 characters, as the list box shows it.
    std::snprintf(entry->displayText, sizeof entry->displayText, "%s %.40s", entry->portName,
                  description);
}

}  // namespace comm_port_enum_detail
