#include "BarcodeCommand.h"
#include "CliIo.h"
#include "CompanionCommand.h"
#include "DailyFolderCommand.h"
#include "FileCommand.h"
#include "ImportCommand.h"
#include "MakeCardCommand.h"
#include "ReassignCommand.h"
#include "SectionsCommand.h"
#include "SettingValueText.h"
#include "SettingsCommand.h"
#include "ThumbsCommand.h"
#include "shell/BundleInfo.h"
#include "shell/FactoryDefaults.h"
#include "shell/SettingsStore.h"
#include "support/SystemLog.h"

#include <QGuiApplication>
#include <QHash>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {
QString usage()
{
    return u"usage: lumisort-cli [--set KEY=VALUE]... [--verbose] VERB [ARGS]\n"
           "       lumisort-cli --version\n"
           "verbs:\n"
           "  settings     read and change the settings the application uses\n"
           "  sections     list the barcode sections of a folder\n"
           "  barcode      read the barcode id of file names\n"
           "  daily-folder show today's destination folders for the current settings\n"
           "  reassign     give marked photos one barcode (or mark them unknown)\n"
           "  auto         carry the barcodes of barcode photos over a folder\n"
           "  file         file the working folder into today's destination folder\n"
           "  import       copy a camera card (or a folder) into the working folder\n"
           "  companion    show what start-up would import from the companion's settings\n"
           "  thumbs       make thumbnails as the browser does and report their source\n"
           "  make-card    write a realistic demo camera card\n"
           "options:\n"
           "  --set KEY=VALUE   override a setting for this run only (repeatable)\n"
           "  --verbose         show the program's log lines on standard error\n"_s;
}
} // namespace

int main(int argc, char **argv)
{
    // Drawing demo cards needs fonts, hence a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"lumisort-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMISORT_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliIo io {out, err};

    QStringList args = QCoreApplication::arguments().mid(1);
    QList<QPair<QString, QString>> overrides;
    bool verbose = false;
    while (!args.isEmpty() && args.first().startsWith(u"--"_s)) {
        const QString option = args.takeFirst();
        if (option == u"--version"_s) {
            out << "lumisort-cli " << BundleInfo::value(u"CFBundleShortVersionString"_s) << Qt::endl;
            return CliIo::cOk;
        }
        if (option == u"--help"_s) {
            out << usage();
            return CliIo::cOk;
        }
        if (option == u"--verbose"_s) {
            verbose = true;
            continue;
        }
        if (option == u"--set"_s || option.startsWith(u"--set="_s)) {
            const QString assignment =
                option == u"--set"_s ? (args.isEmpty() ? QString() : args.takeFirst()) : option.mid(6);
            const qsizetype eq = assignment.indexOf(u'=');
            if (eq <= 0)
                return io.usageError(u"--set needs KEY=VALUE"_s, usage());
            overrides.append({assignment.left(eq), assignment.mid(eq + 1)});
            continue;
        }
        return io.usageError(u"unknown option "_s + option, usage());
    }
    SystemLog::setEnabled(verbose);
    if (args.isEmpty())
        return io.usageError(u"no verb given"_s, usage());

    SettingsStore &store = SettingsStore::standard();
    if (!FactoryDefaults::registerInto(store)) {
        err << "lumisort-cli: the built-in factory defaults are unusable" << Qt::endl;
        return CliIo::cFailed;
    }
    for (const auto &[key, text] : std::as_const(overrides)) {
        QString error;
        const QVariant value = SettingValueText::parse(text, QString(), store.objectForKey(key), &error);
        if (!value.isValid())
            return io.usageError(u"--set "_s + key + u": "_s + error, usage());
        store.setOverride(key, value);
    }

    using Verb = std::function<int(const QStringList &, CliIo &)>;
    const QHash<QString, Verb> verbs {
        {u"settings"_s, [&store](const QStringList &a, CliIo &o) { return SettingsCommand::run(a, store, o); }},
        {u"sections"_s, &SectionsCommand::run},
        {u"barcode"_s, &BarcodeCommand::run},
        {u"daily-folder"_s, &DailyFolderCommand::run},
        {u"reassign"_s, &ReassignCommand::runOneBarcode},
        {u"auto"_s, &ReassignCommand::runAutomatic},
        {u"file"_s, &FileCommand::run},
        {u"import"_s, &ImportCommand::run},
        {u"companion"_s, &CompanionCommand::run},
        {u"thumbs"_s, &ThumbsCommand::run},
        {u"make-card"_s, &MakeCardCommand::run},
    };
    const QString verb = args.takeFirst();
    const auto found = verbs.constFind(verb);
    const int status = found == verbs.cend() ? io.usageError(u"unknown verb "_s + verb, usage()) : (*found)(args, io);
    store.synchronize();
    return status;
}
