#pragma once

#include <QString>

// Every key of the settings store. Keys are exact texts: they are what the
// settings file holds.

// Folders and companion settings
inline const QString cPrefSourcePath = QStringLiteral("prefSourcePath");
inline const QString cPrefSourcePathAliasData = QStringLiteral("prefSourcePathAliasData");
inline const QString cPrefSourcePathIsValid = QStringLiteral("prefSourcePathIsValid");
inline const QString cPrefSourcePathFactory = QStringLiteral("prefSourcePathFactory");
inline const QString cPrefDestinationPath = QStringLiteral("prefDestinationPath");
inline const QString cPrefDestinationPathAliasData = QStringLiteral("prefDestinationPathAliasData");
inline const QString cPrefDestinationPathIsValid = QStringLiteral("prefDestinationPathIsValid");
inline const QString cPrefAlwaysUseMainstayAsSourcePath = QStringLiteral("prefAlwaysUseMainstayAsSourcePath");
inline const QString cPrefMainstayReverseScan = QStringLiteral("prefMainstayReverseScan");
inline const QString cPrefMainstayDisableScan = QStringLiteral("prefMainstayDisableScan");
inline const QString cPrefIsStandAloneApp = QStringLiteral("prefIsStandAloneApp");

// Browser, loader and version
inline const QString cPrefInputFolderSortKeyList = QStringLiteral("prefInputFolderSortKeyList");
inline const QString cPrefInputFolderSortKeySelectedIndex = QStringLiteral("prefInputFolderSortKeySelectedIndex");
inline const QString cPrefVersionString = QStringLiteral("prefVersionString");
inline const QString cPrefWindowTitle = QStringLiteral("prefWindowTitle");
inline const QString cPrefAlwaysPromptForReassignmentMode = QStringLiteral("prefAlwaysPromptForReassignmentMode");
inline const QString cPrefLastUserInfo = QStringLiteral("prefLastUserInfo");

// Reassignment
inline const QString cPrefRadioSet1SelectedTag = QStringLiteral("prefRadioSet1SelectedTag");
inline const QString cPrefReverseAssignBarcode = QStringLiteral("prefReverseAssignBarcode");
inline const QString cPrefReassignPromptDict = QStringLiteral("prefReassignPromptDict");
inline const QString cPrefReassignPromptString = QStringLiteral("prefReassignPromptString");
inline const QString cPrefReassignPromptString2 = QStringLiteral("prefReassignPromptString2");
inline const QString cPrefReassignAsUnknownButtonTitle = QStringLiteral("prefReassignAsUnknownButtonTitle");
inline const QString cPrefDoReassignAllTheseToUnknownStringFormat =
    QStringLiteral("prefDoReassignAllTheseToUnknownStringFormat");
inline const QString cPrefReassignedBarcodeString = QStringLiteral("prefReassignedBarcodeString");
inline const QString cPrefReassignedBarcodeRequiredLength = QStringLiteral("prefReassignedBarcodeRequiredLength");
inline const QString cPrefCheckReassignedBarcodeLength = QStringLiteral("prefCheckReassignedBarcodeLength");
inline const QString cPrefReassignWindowFrame = QStringLiteral("prefReassignWindowFrame");
inline const QString cPrefReassignImageViewPath = QStringLiteral("prefReassignImageViewPath");
inline const QString cPrefCurIndexString = QStringLiteral("prefCurIndexString");

// Card import
inline const QString cPrefCameraCardFolderNames = QStringLiteral("prefCameraCardFolderNames");
inline const QString cPrefTempMountVolume = QStringLiteral("prefTempMountVolume");
inline const QString cPrefStatusString = QStringLiteral("prefStatusString");

// Filing and destination naming
inline const QString cPrefDailyFolderDateFormat = QStringLiteral("prefDailyFolderDateFormat");
inline const QString cPrefDateFormatterTag = QStringLiteral("prefDateFormatterTag");
inline const QString cPrefEnableUserDefinedDateFormatter = QStringLiteral("prefEnableUserDefinedDateFormatter");
inline const QString cPrefUserDefinedDateFormatter = QStringLiteral("prefUserDefinedDateFormatter");
inline const QString cPrefDailyFolderDateFormatExample = QStringLiteral("prefDailyFolderDateFormatExample");
inline const QString cPrefDoUnassignedProcess = QStringLiteral("prefDoUnassignedProcess");
inline const QString cPrefMoveUnasignedPhotoMethodTag = QStringLiteral("prefMoveUnasignedPhotoMethodTag");
inline const QString cPrefOriginalNameFormatTag = QStringLiteral("prefOriginalNameFormatTag");
inline const QString cPrefAccessoryString1 = QStringLiteral("prefAccessoryString1");

// Picture day's roster of subjects: the file is kept as a path with a reference that finds it
// again after it moved, like the folders; the id column is the operator's answer when the
// header named none (-1: the header says), and the header flag whether the file has one.
inline const QString cPrefRosterPath = QStringLiteral("prefRosterPath");
inline const QString cPrefRosterPathAliasData = QStringLiteral("prefRosterPathAliasData");
inline const QString cPrefRosterIdColumn = QStringLiteral("prefRosterIdColumn");
inline const QString cPrefRosterHasHeader = QStringLiteral("prefRosterHasHeader");
// A subject with fewer photos than this is listed as short of photos.
inline const QString cPrefRosterMinimumPhotos = QStringLiteral("prefRosterMinimumPhotos");
