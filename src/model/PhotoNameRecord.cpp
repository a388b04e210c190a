#include "PhotoNameRecord.h"

#include "settings/LogPaths.h"
#include "settings/SharedConstants.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString canonicalFolder(const QString &folder)
{
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString resolved = PathUtils::resolvedPath(absolute);
    return resolved.isEmpty() ? absolute : resolved;
}

QByteArray encoded(const PhotoNameRecord &record)
{
    QStringList originals(record.originals.cbegin(), record.originals.cend());
    originals.sort();
    QJsonObject given;
    for (auto it = record.given.cbegin(); it != record.given.cend(); ++it)
        given.insert(it.key(), it.value());
    QJsonObject root {
        {u"folder"_s, record.folder}, {u"originals"_s, QJsonArray::fromStringList(originals)}, {u"given"_s, given}};
    if (record.nameParts)
        root.insert(u"nameParts"_s, *record.nameParts);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace

QString PhotoNameRecord::recordPathFor(const QString &folder)
{
    const QByteArray key =
        QCryptographicHash::hash(NativePath(canonicalFolder(folder)).bytes(), QCryptographicHash::Sha1).toHex();
    return LogPaths::stateFolder() + u"/names/"_s + QString::fromLatin1(key.left(20)) + u".json"_s;
}

PhotoNameRecord PhotoNameRecord::load(const QString &folder)
{
    PhotoNameRecord record;
    record.folder = canonicalFolder(folder);
    QFile file(recordPathFor(folder));
    if (!file.exists())
        return record;
    const auto damaged = [&](const QString &why) {
        logLine(u"PhotoNameRecord -> load.... "_s + file.fileName() + u" for "_s + record.folder + u": "_s + why
                + u"; the names there are judged by their part count"_s);
        PhotoNameRecord empty;
        empty.folder = record.folder;
        return empty;
    };
    if (!file.open(QIODevice::ReadOnly))
        return damaged(file.errorString());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return damaged(u"damaged ("_s + error.errorString() + u')');
    // Two folders whose paths hash alike must not share what is known of their names.
    if (root.value(u"folder"_s).toString() != record.folder)
        return damaged(u"it belongs to "_s + root.value(u"folder"_s).toString());
    for (const QJsonValue &name : root.value(u"originals"_s).toArray())
        record.originals.insert(name.toString());
    const QJsonObject given = root.value(u"given"_s).toObject();
    for (auto it = given.constBegin(); it != given.constEnd(); ++it)
        record.given.insert(it.key(), it.value().toString());
    if (const int parts = root.value(u"nameParts"_s).toInt(0); parts > 0)
        record.nameParts = parts;
    return record;
}

FileResult PhotoNameRecord::update(const QString &folder, const std::function<void(PhotoNameRecord &)> &change)
{
    const QString path = recordPathFor(folder);
    if (FileResult made = SafeFile::makeFolders(NativePath(path).parent()); !made)
        return made;
    QLockFile lock(path + u".lock"_s);
    if (!lock.tryLock(10000))
        return FileResult::failure(u"lock"_s, NativePath(path), u"another process keeps the record locked"_s);
    PhotoNameRecord record = load(folder);
    change(record);
    const FileResult written = SafeFile::writeDurably(NativePath(path), encoded(record), SafeFileReplace::Atomically);
    if (!written)
        logLine(u"PhotoNameRecord -> update.... "_s + written.text());
    return written;
}

FileResult PhotoNameRecord::recordImport(const QString &folder, const QStringList &names)
{
    return update(folder, [&names](PhotoNameRecord &record) {
        record.originals = QSet<QString>(names.cbegin(), names.cend());
        record.given.clear();
        record.nameParts = agreedPartCount(names);
    });
}

FileResult PhotoNameRecord::recordGiven(const QList<std::pair<QString, QString>> &renames)
{
    QHash<QString, QList<std::pair<QString, QString>>> byFolder;
    for (const auto &[from, to] : renames)
        byFolder[NativePath(to).parent().toString()].append({PathUtils::fileName(from), PathUtils::fileName(to)});
    FileResult result;
    for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
        const FileResult written = update(it.key(), [&names = it.value()](PhotoNameRecord &record) {
            for (const auto &[from, to] : names)
                record.given.remove(from);
            for (const auto &[from, to] : names) {
                if (const std::optional<QString> barcode = barcodeGiven(from, to);
                    barcode && !record.originals.contains(to))
                    record.given.insert(to, *barcode);
            }
        });
        if (!written)
            result = written;
    }
    return result;
}

int PhotoNameRecord::namePartCount(const QString &fileName)
{
    const QStringList parts = PathUtils::baseName(fileName).split(cDefaultComponentSeparator1);
    return int(std::count_if(parts.cbegin(), parts.cend(), [](const QString &p) { return !p.trimmed().isEmpty(); }));
}

std::optional<int> PhotoNameRecord::agreedPartCount(const QStringList &names)
{
    std::optional<int> agreed;
    for (const QString &name : names) {
        const int count = namePartCount(name);
        if (agreed && *agreed != count)
            return std::nullopt;
        agreed = count;
    }
    return agreed;
}

std::optional<QString> PhotoNameRecord::barcodeGiven(const QString &oldName, const QString &newName)
{
    qsizetype common = 0;
    while (common < oldName.size() && common < newName.size()
           && oldName.at(oldName.size() - 1 - common) == newName.at(newName.size() - 1 - common))
        ++common;
    const qsizetype from = newName.size() - common - 1;
    if (from < 0)
        return std::nullopt;
    const qsizetype separator = newName.indexOf(cDefaultComponentSeparator1, from);
    if (separator <= 0)
        return std::nullopt;
    return newName.left(separator);
}
