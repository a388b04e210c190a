#pragma once

#include <QString>
#include <QVariantMap>

class SettingsStore;

// The "FactoryDefaults" property list compiled into the program: the
// registered defaults of the settings store.
class FactoryDefaults
{
public:
    static QVariantMap load(QString *error = nullptr);
    // Registers them in the store; false (and logged) when the resource is unusable.
    static bool registerInto(SettingsStore &store);
};
