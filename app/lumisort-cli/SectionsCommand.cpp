#include "SectionsCommand.h"

#include "model/ImageDirectoryLoader.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

QString SectionsCommand::usage()
{
    return u"usage: lumisort-cli sections [--single] [--json] DIR"_s;
}

int SectionsCommand::run(const QStringList &args, CliIo &io)
{
    bool single = false;
    bool json = false;
    QString folder;
    for (const QString &arg : args) {
        if (arg == u"--single"_s)
            single = true;
        else if (arg == u"--json"_s)
            json = true;
        else if (arg.startsWith(u"--"_s) || !folder.isEmpty())
            return io.usageError(u"unexpected argument "_s + arg, usage());
        else
            folder = arg;
    }
    if (folder.isEmpty())
        return io.usageError(u"no folder given"_s, usage());
    if (!QFileInfo(folder).isDir()) {
        io.err << "lumisort-cli: not a folder: " << folder << Qt::endl;
        return CliIo::cFailed;
    }
    const QString absolute = QFileInfo(folder).absoluteFilePath();

    ImageDirectoryLoader loader;
    loader.setSingleSectionMode(single);
    loader.loadDataForFolderWithUrl(QUrl::fromLocalFile(absolute));

    QJsonArray sections;
    for (qsizetype s = 0; s < loader.numberOfSections(); ++s) {
        const qsizetype count = loader.numberOfItemsInSection(s);
        const std::optional<QString> barcode = loader.barcodeidForSection(s);
        QStringList names;
        for (qsizetype i = 0; i < count; ++i) {
            if (const ImageFilePtr file = loader.imageFileForIndexPath({s, i}))
                names << file->fileName();
        }
        if (json) {
            sections.append(QJsonObject {{u"section"_s, s},
                                         {u"barcodeid"_s, barcode ? QJsonValue(*barcode) : QJsonValue()},
                                         {u"count"_s, count},
                                         {u"photos"_s, QJsonArray::fromStringList(names)}});
        } else {
            io.out << s << '\t' << (barcode ? *barcode : u"(none)"_s) << '\t' << count << '\t'
                   << (names.isEmpty() ? u"-"_s : names.first()) << '\t' << (names.isEmpty() ? u"-"_s : names.last())
                   << Qt::endl;
        }
    }
    if (json) {
        const QJsonObject root {{u"folder"_s, absolute}, {u"sections"_s, sections}};
        io.out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
        io.out.flush();
    }
    return CliIo::cOk;
}
