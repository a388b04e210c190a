#include "BundleInfo.h"

#include "BundleInfoValues.h"

#include <QMutex>
#include <QMutexLocker>

using namespace Qt::StringLiterals;

namespace {
QVariantMap builtInInfo()
{
    return {
        {u"CFBundleName"_s, QStringLiteral(LUMISORT_BUNDLE_NAME)},
        {u"CFBundleDisplayName"_s, QStringLiteral(LUMISORT_BUNDLE_NAME)},
        {u"CFBundleIdentifier"_s, QStringLiteral(LUMISORT_BUNDLE_IDENTIFIER)},
        {u"CFBundleExecutable"_s, QStringLiteral(LUMISORT_BUNDLE_EXECUTABLE)},
        {u"CFBundleShortVersionString"_s, QStringLiteral(LUMISORT_SHORT_VERSION)},
        {u"DTXcode"_s, QStringLiteral(LUMISORT_COMPILER_VERSION)},
        {u"DTSDKName"_s, QStringLiteral(LUMISORT_QT_VERSION)},
    };
}

QMutex g_lock;
QVariantMap *g_override = nullptr;
} // namespace

QVariantMap BundleInfo::infoDictionary()
{
    QMutexLocker locker(&g_lock);
    return g_override ? *g_override : builtInInfo();
}

QString BundleInfo::value(const QString &key)
{
    return infoDictionary().value(key).toString();
}

QString BundleInfo::bundleName()
{
    return value(u"CFBundleName"_s);
}

QString BundleInfo::bundleIdentifier()
{
    return value(u"CFBundleIdentifier"_s);
}

void BundleInfo::setInfoDictionaryForTesting(const QVariantMap &info)
{
    QMutexLocker locker(&g_lock);
    delete g_override;
    g_override = new QVariantMap(info);
}

void BundleInfo::resetInfoDictionaryForTesting()
{
    QMutexLocker locker(&g_lock);
    delete g_override;
    g_override = nullptr;
}
