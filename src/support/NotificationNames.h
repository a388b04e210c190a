#pragma once

#include <QString>

// Names of the internal notifications and the keys and values of their user
// information: the contract through which the parts of the program meet.
namespace NotificationNames {
// Names
extern const QString myCustomId0; // a section header's button
extern const QString myCustomId; // the browser's second stage, or the mode prompt
extern const QString myReassignId; // photos handed to the reassignment sheet
extern const QString myRefreshId; // a sheet changed files: reload
extern const QString myOpenPrefId; // open the preferences
extern const QString mySelectAll; // select all
extern const QString myloadnewcard; // open the card import
extern const QString mycopytomainfolder; // start the filing run
extern const QString vimoNotificationChangedSourcePath;
extern const QString TALVIK_LogFileDidUpdate;
extern const QString NSWorkspaceDidMountNotification;
extern const QString NSWorkspaceDidUnmountNotification;
extern const QString mycardoffered; // a camera card was mounted (NSDevicePath, volumename)
extern const QString mycardwithdrawn; // a mounted volume went away (NSDevicePath)
extern const QString myApplyBarcodesId; // a section header asks to apply the barcodes read
extern const QString mykeptstaging; // staging folders of cut-short imports that stay (folders), or none
} // namespace NotificationNames

namespace NotificationKeys {
extern const QString command;
extern const QString title;
extern const QString sectionid;
extern const QString nothing;
extern const QString urlstochange;
extern const QString fulSortedlUrlList; // spelled so
extern const QString srcpath;
extern const QString destpath;
extern const QString TALVIK_LogFileAddedString;
extern const QString NSDevicePath;
extern const QString NOTE;
extern const QString volumename;
// The codes read in each barcode photo handed to the reassignment sheet: a map from
// path to the list of texts, in the order the reader found them.
extern const QString detectedCodes;
extern const QString folders;
} // namespace NotificationKeys

namespace NotificationValues {
extern const QString dosomething;
extern const QString dosomethingBAD;
extern const QString refresh;
extern const QString openpref;
extern const QString selectall;
extern const QString loadnewcard;
extern const QString UnknownSectionTitle;
extern const QString fromThisInternalApp;
} // namespace NotificationValues
