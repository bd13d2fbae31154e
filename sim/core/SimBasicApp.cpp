#include "SimBasicApp.h"

void SimBasicApp::OnBytes(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c != '\r') {
            if (line_.size() < 256)
                line_ += c;
            continue;
        }
        std::string command;
        command.swap(line_);
        if (command == "get -ver") {
            device_.Line().Send(device_.FirmwareVersionLine() + "\r\n>");
        } else if (command.rfind("boot ", 0) == 0) {
            device_.EnterBootloader();
            return;
        } else {
            device_.Line().Send("?\r\n>");
        }
    }
}
