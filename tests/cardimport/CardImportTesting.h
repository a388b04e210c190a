#pragma once

#include "support/FreedesktopTrash.h"
#include "support/SafeFile.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <cstdio>
#include <optional>
#include <unistd.h>

// What the card import tests look at: folders by raw names and content, and the trash.
namespace CardImportTesting {

inline QByteArray fileBytes(const NativePath &path)
{
    QByteArray bytes;
    if (FILE *f = ::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        for (size_t n; (n = ::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.append(buffer, qsizetype(n));
        ::fclose(f);
    }
    return bytes;
}

inline QSet<QByteArray> namesIn(const QString &folder)
{
    SafeFileListOptions all;
    all.skipHidden = false;
    QSet<QByteArray> names;
    for (const SafeFileEntry &e : SafeFile::list(folder, all).value_or(QList<SafeFileEntry>()))
        names.insert(e.name);
    return names;
}

// Every file below a folder (hidden ones too) by its path inside the folder, with its bytes.
inline QMap<QByteArray, QByteArray> contentsOf(const QString &folder)
{
    SafeFileListOptions all;
    all.skipHidden = false;
    all.recursive = true;
    QMap<QByteArray, QByteArray> files;
    const QByteArray prefix = NativePath(folder).bytes() + '/';
    for (const SafeFileEntry &e : SafeFile::list(folder, all).value_or(QList<SafeFileEntry>())) {
        if (e.type == SafeFileEntryType::Regular)
            files.insert(e.path.bytes().mid(prefix.size()), fileBytes(e.path));
    }
    return files;
}

// The bytes the trash keeps for what was at originalPath (the home trash or a volume's), or nothing.
inline std::optional<QByteArray> trashedContent(const QString &originalPath)
{
    const QByteArray original = NativePath(originalPath).bytes();
    QList<NativePath> trashes {FreedesktopTrash::homeTrash()};
    for (NativePath folder = NativePath(originalPath).parent(); !folder.isEmpty() && folder.bytes() != "/";
         folder = folder.parent())
        trashes.append(folder.child(QByteArray(".Trash-" + QByteArray::number(::getuid()))));
    for (const NativePath &trash : std::as_const(trashes)) {
        const NativePath info = trash.child(QByteArrayLiteral("info"));
        for (const SafeFileEntry &e : SafeFile::list(info, {}).value_or(QList<SafeFileEntry>())) {
            const QByteArray text = fileBytes(e.path);
            const qsizetype at = text.indexOf("\nPath=");
            if (at < 0)
                continue;
            const QByteArray path =
                QByteArray::fromPercentEncoding(text.mid(at + 6, text.indexOf('\n', at + 6) - at - 6));
            // A volume's trash keeps the path below the volume's top folder.
            if (path != original && !original.endsWith(QByteArray('/' + path)))
                continue;
            const QByteArray name = e.name.chopped(int(qstrlen(".trashinfo")));
            return fileBytes(trash.child(QByteArrayLiteral("files")).child(name));
        }
    }
    return std::nullopt;
}

} // namespace CardImportTesting
