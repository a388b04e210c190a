#include "NotificationNames.h"

namespace NotificationNames {
const QString myCustomId0 = QStringLiteral("myCustomId0");
const QString myCustomId = QStringLiteral("myCustomId");
const QString myReassignId = QStringLiteral("myReassignId");
const QString myRefreshId = QStringLiteral("myRefreshId");
const QString myOpenPrefId = QStringLiteral("myOpenPrefId");
const QString mySelectAll = QStringLiteral("mySelectAll");
const QString myloadnewcard = QStringLiteral("myloadnewcard");
const QString mycopytomainfolder = QStringLiteral("mycopytomainfolder");
const QString vimoNotificationChangedSourcePath = QStringLiteral("vimoNotificationChangedSourcePath");
const QString TALVIK_LogFileDidUpdate = QStringLiteral("TALVIK_LogFileDidUpdate");
const QString NSWorkspaceDidMountNotification = QStringLiteral("NSWorkspaceDidMountNotification");
const QString NSWorkspaceDidUnmountNotification = QStringLiteral("NSWorkspaceDidUnmountNotification");
const QString mycardoffered = QStringLiteral("mycardoffered");
const QString mycardwithdrawn = QStringLiteral("mycardwithdrawn");
const QString myApplyBarcodesId = QStringLiteral("myApplyBarcodesId");
const QString mykeptstaging = QStringLiteral("mykeptstaging");
} // namespace NotificationNames

namespace NotificationKeys {
const QString command = QStringLiteral("command");
const QString title = QStringLiteral("title");
const QString sectionid = QStringLiteral("sectionid");
const QString nothing = QStringLiteral("nothing");
const QString urlstochange = QStringLiteral("urlstochange");
const QString fulSortedlUrlList = QStringLiteral("fulSortedlUrlList");
const QString srcpath = QStringLiteral("srcpath");
const QString destpath = QStringLiteral("destpath");
const QString TALVIK_LogFileAddedString = QStringLiteral("TALVIK_LogFileAddedString");
const QString NSDevicePath = QStringLiteral("NSDevicePath");
const QString NOTE = QStringLiteral("NOTE");
const QString volumename = QStringLiteral("volumename");
const QString detectedCodes = QStringLiteral("detectedCodes");
const QString folders = QStringLiteral("folders");
} // namespace NotificationKeys

namespace NotificationValues {
const QString dosomething = QStringLiteral("dosomething");
const QString dosomethingBAD = QStringLiteral("dosomethingBAD");
const QString refresh = QStringLiteral("refresh");
const QString openpref = QStringLiteral("openpref");
const QString selectall = QStringLiteral("selectall");
const QString loadnewcard = QStringLiteral("loadnewcard");
const QString UnknownSectionTitle = QStringLiteral("UnknownSectionTitle");
const QString fromThisInternalApp = QStringLiteral("fromThisInternalApp");
} // namespace NotificationValues
