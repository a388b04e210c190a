// Folder references come back from the settings file, where anything may have
// changed them: any bytes handed to the resolver must fail cleanly or name a
// folder, and a refreshed reference must lead to the same folder.
#include "FuzzSupport.h"
#include "settings/MyAliasKit.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    QString resolved;
    QByteArray changed;
    if (!MyAliasKit::resolveAliasFromData(bytes, &resolved, &changed))
        return 0;
    FUZZ_REQUIRE(resolved.startsWith(u'/') && !resolved.contains(QChar(0)), resolved);
    if (!changed.isEmpty()) {
        QString again;
        FUZZ_REQUIRE(MyAliasKit::resolveAliasFromData(changed, &again), resolved);
        FUZZ_REQUIRE(again == resolved, resolved + u" then "_s + again);
    }
    return 0;
}
