// The window's preferences in QSettings, under the organisation and
// application names the Windows build uses for its registry key.
#pragma once

#include "Preferences.h"

class QtPreferences : public Preferences {
public:
    static constexpr const char* kOrganisation = "Tessaly Devices, Inc";
    static constexpr const char* kApplication = "KeloBSL";

    PreferenceValues Read() override;
    void Write(const PreferenceValues& values) override;
};
