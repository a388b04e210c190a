#include "LogPaths.h"

#include "BundleInfo.h"
#include "support/TALVIK_Log.h"

#include <QDir>

using namespace Qt::StringLiterals;

QString LogPaths::stateFolder()
{
    // Qt 6.4 knows no state location. A relative value is to be ignored, not taken
    // from the current folder.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + u"/.local/state"_s;
    return QDir::cleanPath(base + u"/Lumisort"_s);
}

QString LogPaths::logFolder()
{
    return stateFolder();
}

QString LogPaths::logFile()
{
    return logFolder() + u'/' + BundleInfo::bundleName() + u".log"_s;
}

QString LogPaths::oldLogFile()
{
    return TALVIK_Log::oldLogFilePath(logFile());
}

QString LogPaths::journalFolder()
{
    return stateFolder() + u"/reassign-journal"_s;
}

QString LogPaths::formerLogFolder()
{
    return QDir::homePath() + u"/Library/Logs/Vimo"_s;
}
