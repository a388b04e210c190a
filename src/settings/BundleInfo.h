#pragma once

#include <QString>
#include <QVariantMap>

// The program's information dictionary: the entries a desktop bundle would
// carry ("CFBundleName", "CFBundleIdentifier", "CFBundleShortVersionString",
// "DTXcode" for the compiler, "DTSDKName" for the Qt version ...), fixed at
// build time.
class BundleInfo
{
public:
    static QVariantMap infoDictionary();
    static QString value(const QString &key);
    static QString bundleName();
    static QString bundleIdentifier();
    // Tests stand in another dictionary (a missing "DTXcode", another executable name).
    static void setInfoDictionaryForTesting(const QVariantMap &info);
    static void resetInfoDictionaryForTesting();
};
