#include "BarcodeCommand.h"

#include "CliArguments.h"
#include "model/FileNameConvention.h"
#include "support/NativePath.h"

using namespace Qt::StringLiterals;

QString BarcodeCommand::usage()
{
    return u"usage: lumisort-cli barcode [--] NAME..."_s;
}

int BarcodeCommand::run(const QStringList &args, CliIo &io)
{
    const CliArguments parsed(args, {});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    if (parsed.operands().isEmpty())
        return io.usageError(u"no name given"_s, usage());
    for (const QString &name : parsed.operands()) {
        io.out << NativePath::forDisplay(name) << '\t'
               << NativePath::forDisplay(FileNameConvention::barcodeIdForName(name)) << '\t'
               << (FileNameConvention::isUnknownPhoto(name) ? "unknown" : "known") << Qt::endl;
    }
    return CliIo::cOk;
}
