// The window's preferences in the registry: under HKEY_CURRENT_USER
// "Software\Tessaly Devices, Inc\KeloBSL", the two flags as DWORD 0/1 and
// "CommPort" as a string. The key is opened (made when missing) for each
// read or write and closed again.
#pragma once

#include <windows.h>

#include <string>

#include "Preferences.h"

class RegistryPreferences : public Preferences {
public:
    static constexpr const wchar_t* kKey = L"Software\\Tessaly Devices, Inc\\KeloBSL";

    // Tests pass a key of their own.
    explicit RegistryPreferences(HKEY root = HKEY_CURRENT_USER, std::wstring key = kKey);

    PreferenceValues Read() override;
    void Write(const PreferenceValues& values) override;

private:
    HKEY root_;
    std::wstring key_;
};
