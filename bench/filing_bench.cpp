// Times one filing run from a working folder into a destination folder.
#include "filing/FilingRun.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s WORKING_FOLDER DESTINATION\n", argv[0]);
        return 2;
    }
    SettingsStore::standard().setInteger(1, cPrefOriginalNameFormatTag);
    QElapsedTimer t;
    t.start();
    const FilingRun::Result result = FilingRun::run(args.at(1), args.at(2));
    const qint64 ms = t.elapsed();
    if (!result.summary)
        return 1;
    std::printf("{\"ms\": %lld, \"moved\": %lld, \"attempted\": %lld, \"failures\": %lld}\n", ms,
                qint64(result.summary->moved), qint64(result.summary->attempted), qint64(result.summary->failures));
    return 0;
}
