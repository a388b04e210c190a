#include "AppPaths.h"

#include "BundleInfo.h"

#include <QDir>

QString AppPaths::temporaryDirectoryForThisApp()
{
    return QDir::tempPath() + u'/' + BundleInfo::bundleIdentifier();
}
