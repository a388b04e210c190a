#include "ReassignRules.h"

#include "settings/SharedConstants.h"
#include "support/PathUtils.h"

using namespace Qt::StringLiterals;

std::optional<QString> ReassignRules::newFileNameForBarcode(const QString &fileName, const QString &barcode,
                                                            const PhotoNameRule &rule)
{
    // A prefix test on the base name: "1234" also leaves "12345_0007" alone.
    if (PathUtils::baseName(fileName).startsWith(barcode))
        return std::nullopt;
    QString name = fileName;
    const qsizetype unknown = name.indexOf(u"unknown_"_s, 0, Qt::CaseInsensitive);
    if (unknown >= 0)
        name.remove(unknown, 8);
    const PhotoNameRule::Reading reading = rule.read(name);
    if (reading.kind == PhotoNameRule::Kind::Original)
        return barcode + cDefaultComponentSeparator1 + name;
    if (reading.kind == PhotoNameRule::Kind::Barcoded && name.startsWith(reading.barcode + cDefaultComponentSeparator1))
        return barcode + cDefaultComponentSeparator1 + name.mid(reading.barcode.size() + 1);
    QStringList pieces = name.split(cDefaultComponentSeparator1);
    if (pieces.size() > 2)
        pieces.removeFirst(); // the old barcode id
    return barcode + cDefaultComponentSeparator1 + pieces.join(cDefaultComponentSeparator1);
}

bool ReassignRules::isEmptyBarcode(const QString &barcode)
{
    for (const QChar c : barcode) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

QList<ReassignRules::WorkEntry> ReassignRules::automaticWorkList(const QStringList &folderOrderPaths,
                                                                 const QHash<QString, QString> &barcodeOfPath,
                                                                 bool reverse)
{
    QList<WorkEntry> work;
    work.reserve(folderOrderPaths.size());
    for (const QString &path : folderOrderPaths) {
        WorkEntry entry {path, std::nullopt, std::nullopt};
        if (const auto it = barcodeOfPath.constFind(path); it != barcodeOfPath.cend())
            entry.code = *it;
        work.append(entry);
    }
    if (reverse)
        std::reverse(work.begin(), work.end());
    QString carried;
    for (WorkEntry &entry : work) {
        if (entry.code)
            carried = *entry.code;
        if (carried.isEmpty())
            continue; // before the first barcode photo: the name stays
        const qsizetype slash = entry.path.lastIndexOf(u'/');
        const QString folder = slash < 0 ? QString() : entry.path.left(slash + 1);
        entry.newname = folder + carried + cDefaultComponentSeparator1 + entry.path.mid(slash + 1);
    }
    return work;
}
