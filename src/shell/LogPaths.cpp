#include "LogPaths.h"

#include "BundleInfo.h"
#include "support/TALVIK_Log.h"

#include <QDir>

using namespace Qt::StringLiterals;

QString LogPaths::logFolder()
{
    return QDir::homePath() + u"/Library/Logs/Vimo"_s;
}

QString LogPaths::logFile()
{
    return logFolder() + u'/' + BundleInfo::bundleName() + u".log"_s;
}

QString LogPaths::oldLogFile()
{
    return TALVIK_Log::oldLogFilePath(logFile());
}
