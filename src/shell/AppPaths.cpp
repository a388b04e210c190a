#include "AppPaths.h"

#include "settings/BundleInfo.h"

#include <QDir>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

QString AppPaths::temporaryDirectoryForThisApp()
{
    return QDir::tempPath() + u'/' + BundleInfo::bundleIdentifier();
}

QString AppPaths::defaultWorkingFolder()
{
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath() + u"/Pictures"_s;
    return pictures + u"/Lumisort"_s;
}
