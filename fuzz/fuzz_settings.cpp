// The settings file as the program finds it at start: any bytes, XML or binary
// property list. Loading must never crash, and whatever loads must survive
// being saved and loaded again, or the next start would find its own file damaged.
#include "FuzzSupport.h"
#include "settings/SettingsStore.h"
#include "support/PlistCodec.h"

using namespace Qt::StringLiterals;

namespace {
// The store saves XML only.
void requireStable(const QVariant &value)
{
    const QByteArray saved = PlistCodec::toXml(value);
    if (saved.isEmpty())
        return; // refused to encode: nothing is written
    QString error;
    const QVariant reloaded = PlistCodec::parse(saved, &error);
    FUZZ_REQUIRE(reloaded.isValid(), u"a saved list does not load again: "_s + error);
    const QByteArray savedAgain = PlistCodec::toXml(reloaded);
    FUZZ_REQUIRE(savedAgain == saved,
                 QString::fromUtf8(PlistCodec::toXml(value) + "\nloads back as\n" + PlistCodec::toXml(reloaded)));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    const QVariant value = PlistCodec::parse(bytes);
    if (value.typeId() != QMetaType::QVariantMap)
        return 0; // the store keeps such a file aside and starts afresh
    requireStable(value);

    // The store itself: typed reads of every key it loaded.
    const QString path = FuzzSupport::writeScratchFile(u"settings/store.plist"_s, bytes);
    {
        SettingsStore store(path);
        const QVariantMap all = store.dictionaryRepresentation();
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            store.boolForKey(it.key());
            store.integerForKey(it.key());
            store.doubleForKey(it.key());
            store.stringForKey(it.key());
            store.arrayForKey(it.key());
            store.dictionaryForKey(it.key());
        }
        FUZZ_REQUIRE(store.damagedFileKeptAt().isEmpty(), store.damagedFileKeptAt());
    }
    return 0;
}
