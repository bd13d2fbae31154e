#include "QtPreferences.h"

#include <QSettings>

// The two flags are stored as 0/1 integers, as the registry holds them.
PreferenceValues QtPreferences::Read()
{
    QSettings settings(kOrganisation, kApplication);
    PreferenceValues values;
    values.findAllComms = settings.value("FindAllComms", 0).toInt() != 0;
    values.verboseLog = settings.value("VerboseLog", 0).toInt() != 0;
    values.hasCommPort = settings.contains("CommPort");
    values.commPort = settings.value("CommPort").toString().toStdString();
    return values;
}

void QtPreferences::Write(const PreferenceValues& values)
{
    QSettings settings(kOrganisation, kApplication);
    settings.setValue("FindAllComms", values.findAllComms ? 1 : 0);
    settings.setValue("VerboseLog", values.verboseLog ? 1 : 0);
    settings.setValue("CommPort", QString::fromStdString(values.commPort));
}
