#include <iostream>
#include <nlohmann/json.hpp>

#include "CommPortEnum.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "KeloSerial.h"

int RunListPortsCommand(bool all, bool json)
{
    constexpr int kCapacity = 64;
    static CommPortEntry entries[kCapacity];
    KeloSerial enumerator(nullptr);
    int count = kCapacity;
    int result = CommPortEnum(&enumerator, entries, &count, all);
    if (result < 0)
        count = 0;

    if (json) {
        auto list = nlohmann::json::array();
        for (int i = 0; i < count; ++i)
            list.push_back({{"port", entries[i].portName}, {"description", entries[i].displayText}});
        std::cout << nlohmann::json{{"ports", list}}.dump() << '\n';
        return exit_code::kSuccess;
    }
    if (count == 0) {
        std::cout << "No Comm Ports Found\n";
        if (!all)
            std::cout << "(--all also tries the usual port names directly)\n";
        return exit_code::kSuccess;
    }
    for (int i = 0; i < count; ++i)
        std::cout << entries[i].portName << "\t" << entries[i].displayText << '\n';
    return exit_code::kSuccess;
}
