// The companion application's settings file, written by another program: any
// bytes where the program expects a property list of nested dictionaries.
#include "FuzzSupport.h"
#include "settings/CompanionSettings.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The sandbox is HOME, so this is the file the companion reader opens.
    const QString path = CompanionSettings::preferencesFilePath();
    FUZZ_REQUIRE(path.startsWith(FuzzSupport::sandbox()), path);
    FuzzSupport::writeScratchFile(path.mid(FuzzSupport::sandbox().size() + 1), FuzzSupport::bytes(data, size));
    CompanionSettings::savePath();
    CompanionSettings::objectForKey(u"reversescan"_s);
    CompanionSettings::objectForKey(u"disablescan"_s);
    return 0;
}
