#include "FactoryDefaults.h"

#include "SettingsStore.h"
#include "support/PlistCodec.h"
#include "support/SystemLog.h"

using namespace Qt::StringLiterals;

static void initShellResources()
{
    // The resource lives in a static library: it must be pulled in by hand.
    Q_INIT_RESOURCE(settings);
}

QVariantMap FactoryDefaults::load(QString *error)
{
    initShellResources();
    const QVariant content = PlistCodec::readFile(u":/FactoryDefaults.plist"_s, error);
    if (content.typeId() != QMetaType::QVariantMap) {
        if (error && error->isEmpty())
            *error = u"FactoryDefaults.plist is not a dictionary"_s;
        return {};
    }
    return content.toMap();
}

bool FactoryDefaults::registerInto(SettingsStore &store)
{
    QString error;
    const QVariantMap defaults = load(&error);
    if (defaults.isEmpty()) {
        logLine(u"FactoryDefaults -> registerInto.... cannot load the factory defaults: "_s + error);
        return false;
    }
    store.registerDefaults(defaults);
    return true;
}
