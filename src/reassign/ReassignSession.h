#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <optional>

class BarcodeEntryRules;

// What one opening of the reassignment sheet knows: the photos it goes through,
// where it stands, the barcodes taken for barcode photos and, when applying the
// barcodes read, the codes read in each. The sheet shows it; nothing here
// touches a widget or a file.
class ReassignSession
{
public:
    QString curindexString;
    int curindex = 0;
    QList<QUrl> urlstochange;
    std::optional<QList<QUrl>> sortedurlstochange;
    std::optional<QHash<QString, QString>> sortedurlsWithBarcodes = QHash<QString, QString>();
    bool doSlideShow = true;
    std::optional<QList<QUrl>> fullUrlList;
    // Applying the barcodes read in the photos: every barcode photo comes with the codes
    // found in it (the one to propose first), and the run is shown before it is done.
    bool applyingReadings = false;
    QHash<QString, QStringList> detectedCodes;

    // readings: the codes read, by photo path, when applying them; anything else otherwise.
    void takeReadings(const QVariant &readings, const BarcodeEntryRules &rules);
    void setUrlsToChange(const std::optional<QList<QUrl>> &urls);
    // From the browser's message: keeps the folder's photos when it lists them, and
    // gives the marked photos, when it lists them.
    std::optional<QList<QUrl>> takeFolder(const QVariantMap &userInfo);
    // A new list of photos: earlier barcodes are forgotten and the first photo chosen.
    void takePhotos(const std::optional<QList<QUrl>> &received, bool reverse);
    // Each barcode photo brings its own barcode: chosen in the settings, or when applying readings.
    bool isAutomatic() const;

    bool hasPhotoAt(int index) const;
    QString pathAt(int index) const;
    // The photos a Return or an arrow shows next.
    QStringList neighboursOf(int index) const;
    void moveTo(int index);

    // The barcode taken for a photo, when one was.
    std::optional<QString> acceptedFor(const QString &path) const;
    // What the field shows on arriving at a photo whose barcode was not taken yet.
    std::optional<QString> proposalFor(const QString &path) const;
    // Takes a barcode for the photo shown; false when there was nothing to take.
    bool record(const QString &barcode);
    QHash<QString, QString> barcodesForRun() const;

    // Barcode photos given no barcode whose readings give none either.
    struct Unresolved
    {
        QList<std::pair<QString, QString>> photos; // path, why its readings were refused
        int first = -1;
    };
    Unresolved unresolvedReadings(const QHash<QString, QString> &barcodes, const BarcodeEntryRules &rules) const;

    // Where a move by delta lands: past the last barcode photo while applying
    // readings the run is confirmed instead; past either end it stops there.
    struct Step
    {
        int index = 0;
        bool beyondEnd = false;
        bool confirm = false;
    };
    Step stepBy(int delta) const;
};
