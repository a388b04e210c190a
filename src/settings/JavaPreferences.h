#pragma once

#include <QHash>
#include <QString>

// Preferences a Java program keeps through java.util.prefs on Linux: each node is
// a folder under the store's root ("~/.java/.userPrefs", "/etc/.java/.systemPrefs"),
// holding "prefs.xml", a map of text keys to text values. Read only.
class JavaPreferences
{
public:
    // Java writes a few hundred bytes per node; anything this large is not its file.
    static constexpr qint64 cMaxFileBytes = 1024 * 1024;

    struct Node
    {
        bool usable = false;
        QHash<QString, QString> values;
        QString problem; // why the file cannot be used, when it cannot
    };

    // The folder Java keeps a node in: the name itself when every character is
    // printable ASCII other than '/', '.' and '_', otherwise '_' and the name's
    // UTF-16 code units (big-endian) in Java's case-proof Base64 alphabet.
    static QString folderName(const QString &nodeName);
    // "<root>/<folder>/.../prefs.xml" for a node path such as "Mainstay" or "a/b".
    static QString nodeFile(const QString &root, const QString &nodePath);

    // The map of a prefs.xml file's bytes. Nothing is fetched: the document type
    // named in the file is never loaded.
    static Node parse(const QByteArray &xml);
};
