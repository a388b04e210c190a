#include "BarcodeCommand.h"

#include "model/FileNameConvention.h"

using namespace Qt::StringLiterals;

QString BarcodeCommand::usage()
{
    return u"usage: lumisort-cli barcode NAME..."_s;
}

int BarcodeCommand::run(const QStringList &args, CliIo &io)
{
    if (args.isEmpty())
        return io.usageError(u"no name given"_s, usage());
    for (const QString &name : args) {
        io.out << name << '\t' << FileNameConvention::barcodeIdForName(name) << '\t'
               << (FileNameConvention::isUnknownPhoto(name) ? "unknown" : "known") << Qt::endl;
    }
    return CliIo::cOk;
}
