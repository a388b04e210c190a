#include "DetectCommand.h"

#include "CliArguments.h"
#include "InterruptedRuns.h"
#include "barcodes/BarcodeCache.h"
#include "model/ImageTypes.h"
#include "support/NativePath.h"
#include "support/SafeFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

QString DetectCommand::usage()
{
    return u"usage: lumisort-cli detect [--json] [--] DIR|FILE...\n"
           "  reads the barcodes shown in photos (a folder: its photos, not its subfolders) and prints\n"
           "  each photo with a barcode, its codes with their formats and the milliseconds it took;\n"
           "  --json   one object {\"photos\": [{\"file\", \"codes\": [{\"text\", \"format\"}], \"ms\"}]}\n"
           "           listing every photo read"_s;
}

int DetectCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {{u"--json"_s}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().isEmpty())
        return io.usageError(u"detect needs at least one folder or file"_s, usage());

    int status = CliIo::cOk;
    QStringList names; // as given, or a folder's path joined with the photo's name
    QList<NativePath> paths;
    for (const QString &operand : parsed.operands()) {
        const NativePath path(operand);
        struct stat info = {};
        if (::stat(path.c_str(), &info) != 0) {
            io.err << "lumisort-cli: no such file or folder: " << NativePath::forDisplay(operand) << Qt::endl;
            status = CliIo::cFailed;
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            names << operand;
            paths << path;
            continue;
        }
        InterruptedRuns::finish(CliArguments::absolutePath(operand), io);
        FileResult error;
        const auto entries = SafeFile::list(path, {}, &error);
        if (!entries) {
            io.err << "lumisort-cli: cannot list " << NativePath::forDisplay(operand) << ": " << error.text()
                   << Qt::endl;
            status = CliIo::cFailed;
            continue;
        }
        QList<SafeFile::Entry> photos;
        for (const SafeFile::Entry &entry : *entries)
            if (entry.type == SafeFile::EntryType::Regular && ImageTypes::isImageFile(entry.path.toString()))
                photos << entry;
        std::sort(photos.begin(), photos.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
        const QString folder = operand.endsWith(u'/') ? operand : operand + u'/';
        for (const SafeFile::Entry &entry : std::as_const(photos)) {
            names << folder + NativePath::decode(entry.name);
            paths << entry.path;
        }
    }

    BarcodeCache cache;
    const QList<BarcodeReader::Reading> readings = cache.readAll(paths);
    const bool json = parsed.isSet(u"--json"_s);
    QJsonArray photos;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        const BarcodeReader::Reading &reading = readings.at(i);
        const QString name = NativePath::forDisplay(names.at(i));
        if (json) {
            QJsonArray codes;
            for (const BarcodeReader::Code &code : reading.codes)
                codes.append(QJsonObject {{u"text"_s, code.text}, {u"format"_s, code.format}});
            photos.append(QJsonObject {{u"file"_s, name}, {u"codes"_s, codes}, {u"ms"_s, reading.ms}});
            continue;
        }
        if (reading.codes.isEmpty())
            continue;
        io.out << name;
        for (const BarcodeReader::Code &code : reading.codes)
            io.out << '\t' << code.text << " (" << code.format << ')';
        io.out << '\t' << reading.ms << " ms" << Qt::endl;
    }
    if (json)
        io.out << QJsonDocument(QJsonObject {{u"photos"_s, photos}}).toJson(QJsonDocument::Compact) << Qt::endl;
    io.out.flush();
    return status;
}
