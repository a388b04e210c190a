#include "CardsCommand.h"

#include "CliArguments.h"
#include "CliRoster.h"
#include "roster/CameraCardSheet.h"
#include "roster/Roster.h"
#include "support/NativePath.h"
#include "support/Plural.h"

#include <QFileInfo>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

QString CardsCommand::usage()
{
    return u"usage: lumisort-cli cards --out FILE.pdf [--format code128|datamatrix|qr] [--paper a4|letter]\n"
           "                          [--id-column N] [--] ROSTER.csv\n"
           "  prints a camera card for every subject of the roster, by class then name, ten to a page\n"
           "  with cut marks; FILE.pdf must not exist yet\n"
           "  --format     the code on the cards (default code128)\n"
           "  --paper      the sheet size (default: letter where the locale measures in inches, else a4)\n"
           "  --id-column  the column of the ids, counted from 1, when no header names it"_s;
}

int CardsCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(
        args, {{u"--out"_s, true}, {u"--format"_s, true}, {u"--paper"_s, true}, {u"--id-column"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().size() != 1)
        return io.usageError(u"cards takes one roster file"_s, usage());
    if (parsed.value(u"--out"_s).isEmpty())
        return io.usageError(u"cards needs --out FILE.pdf"_s, usage());

    CameraCardSheet::Options options;
    const QHash<QString, CameraCardSheet::Format> formats {{u"code128"_s, CameraCardSheet::Format::Code128},
                                                           {u"datamatrix"_s, CameraCardSheet::Format::DataMatrix},
                                                           {u"qr"_s, CameraCardSheet::Format::QrCode}};
    if (parsed.isSet(u"--format"_s)) {
        const QString name = parsed.value(u"--format"_s).toLower();
        if (!formats.contains(name))
            return io.usageError(u"--format takes code128, datamatrix or qr"_s, usage());
        options.format = formats.value(name);
    }
    if (parsed.isSet(u"--paper"_s)) {
        const QString name = parsed.value(u"--paper"_s).toLower();
        if (name != u"a4"_s && name != u"letter"_s)
            return io.usageError(u"--paper takes a4 or letter"_s, usage());
        options.paper = name == u"a4"_s ? QPageSize::A4 : QPageSize::Letter;
    }
    int idColumn = -1;
    if (!CliRoster::readIdColumn(parsed, &idColumn))
        return io.usageError(u"--id-column takes a column number, counted from 1"_s, usage());

    const QString rosterArg = parsed.operands().first();
    const NativePath out(parsed.value(u"--out"_s));
    // Asked before the roster is read: a sheet already printed from may carry notes, and is never replaced.
    struct stat existing = {};
    if (::lstat(out.c_str(), &existing) == 0) {
        io.err << "lumisort-cli: " << out.displayString() << " already exists: it is not replaced; "
               << "choose another --out file" << Qt::endl;
        return CliIo::cFailed;
    }

    const std::optional<Roster> read = CliRoster::load(rosterArg, idColumn, Roster::Header::FirstRow, io);
    if (!read)
        return CliIo::cFailed;
    const Roster &roster = *read;

    options.rosterName = QFileInfo(NativePath::forDisplay(rosterArg)).fileName();
    if (const FileResult written = CameraCardSheet::write(roster, options, out); !written) {
        io.err << "lumisort-cli: " << written.text() << Qt::endl;
        return CliIo::cFailed;
    }
    const qsizetype cards = roster.subjects().size();
    const qsizetype pages = CameraCardSheet::layout(cards, options).size();
    io.out << Plural::count(cards, u"card"_s, u"cards"_s) << " on " << Plural::count(pages, u"page"_s, u"pages"_s)
           << " written to " << out.displayString() << Qt::endl;
    return CliIo::cOk;
}
