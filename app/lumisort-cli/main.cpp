#include "BarcodeCommand.h"
#include "CardsCommand.h"
#include "CliArguments.h"
#include "CliIo.h"
#include "CompanionCommand.h"
#include "DailyFolderCommand.h"
#include "DetectCommand.h"
#include "FileCommand.h"
#include "ImportCommand.h"
#include "MakeCardCommand.h"
#include "ReassignCommand.h"
#include "RosterCommand.h"
#include "SectionsCommand.h"
#include "SettingValueText.h"
#include "SettingsCommand.h"
#include "ThumbsCommand.h"
#include "UndoCommand.h"
#include "reassign/ReassignJournal.h"
#include "settings/BundleInfo.h"
#include "settings/FactoryDefaults.h"
#include "settings/FolderSettings.h"
#include "settings/LogPaths.h"
#include "settings/SettingsStore.h"
#include "shell/StateFolderMove.h"
#include "support/SafeFile.h"
#include "support/SystemLog.h"

#include <QGuiApplication>
#include <cstdio>
#include <functional>
#include <memory>

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
           "  undo         give a folder's photos back their names from before its last reassignment\n"
           "  file         file the working folder into today's destination folder\n"
           "  import       copy a camera card (or a folder) into the working folder\n"
           "  companion    show what start-up would import from the companion's settings\n"
           "  thumbs       make thumbnails as the browser does and report their source\n"
           "  make-card    write a realistic demo camera card\n"
           "  detect       read the barcodes shown in photos\n"
           "  roster       count each roster subject's photos and name who has none\n"
           "  cards        print the roster's camera cards as a PDF\n"
           "options:\n"
           "  --set KEY=VALUE   override a setting for this run only (repeatable)\n"
           "  --verbose         show the program's log lines on standard error\n"
           "  --                ends the options: a name beginning with \"-\" may follow\n"_s;
}

// The index of the verb: the first argument that is no option nor an option's value.
qsizetype verbIndex(const QStringList &args)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--"_s)
            return i + 1;
        if (arg == u"--set"_s)
            ++i;
        else if (!arg.startsWith(u'-'))
            return i;
    }
    return args.size();
}

struct Verb
{
    bool drawsText; // needs fonts, hence a GUI application (never a display)
    std::function<int(const QStringList &, CliIo &)> run;
};
} // namespace

int main(int argc, char **argv)
{
    // The command line is read before any Qt application object exists: those
    // take their own options (-reverse, --platform, -style ...) out of argv, with
    // one dash or two, and "auto --reverse" would then run forward.
    const QStringList arguments = CliArguments::fromArgv(argc, argv);
    const qsizetype verbAt = verbIndex(arguments);
    const CliArguments global(arguments.mid(0, std::min(verbAt, arguments.size())),
                              {{u"--set"_s, true}, {u"--verbose"_s}, {u"--version"_s}, {u"--help"_s}});
    const QString verb = arguments.value(verbAt);
    const QStringList verbArgs = arguments.mid(verbAt + 1);

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliIo io {out, err};

    SettingsStore *store = nullptr;
    const QHash<QString, Verb> verbs {
        {u"settings"_s,
         {false, [&store](const QStringList &a, CliIo &o) { return SettingsCommand::run(a, *store, o); }}},
        {u"sections"_s, {false, &SectionsCommand::run}},
        {u"barcode"_s, {false, &BarcodeCommand::run}},
        {u"daily-folder"_s, {false, &DailyFolderCommand::run}},
        {u"reassign"_s, {false, &ReassignCommand::runOneBarcode}},
        {u"auto"_s, {false, &ReassignCommand::runAutomatic}},
        {u"undo"_s, {false, &UndoCommand::run}},
        {u"file"_s, {false, &FileCommand::run}},
        {u"import"_s, {false, &ImportCommand::run}},
        {u"companion"_s, {false, &CompanionCommand::run}},
        {u"thumbs"_s, {false, &ThumbsCommand::run}},
        {u"make-card"_s, {true, &MakeCardCommand::run}},
        {u"detect"_s, {false, &DetectCommand::run}},
        {u"roster"_s, {false, &RosterCommand::run}},
        {u"cards"_s, {true, &CardsCommand::run}},
    };
    const auto found = verbs.constFind(verb);

    SystemLog::setEnabled(global.isSet(u"--verbose"_s));

    // Qt is given the program's name only.
    static int qtArgc = 1;
    static char *qtArgv[] = {argv[0], nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (found != verbs.cend() && found->drawsText) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    }
    QCoreApplication::setApplicationName(u"lumisort-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMISORT_VERSION));

    if (!global.error().isEmpty())
        return io.usageError(global.error(), usage());
    if (global.isSet(u"--version"_s)) {
        out << "lumisort-cli " << BundleInfo::value(u"CFBundleShortVersionString"_s) << Qt::endl;
        return CliIo::cOk;
    }
    if (global.isSet(u"--help"_s)) {
        out << usage();
        return CliIo::cOk;
    }
    if (verb.isEmpty())
        return io.usageError(u"no verb given"_s, usage());
    if (found == verbs.cend())
        return io.usageError(u"unknown verb "_s + verb, usage());

    // The log of an earlier version is moved over before the log is opened, so that it is carried on.
    const QStringList moved = StateFolderMove::run();
    SafeFile::makeFolders(LogPaths::logFolder());
    if (const FileResult opened = SystemLog::openLogFile(LogPaths::logFile()); !opened)
        err << "lumisort-cli: the log cannot be written: " << opened.text() << Qt::endl;
    for (const QString &line : moved)
        logLine(line);
    logLine(u"lumisort-cli -> "_s + arguments.join(u' '));

    store = &SettingsStore::standard();
    // Told once: the damaged file is out of the way from now on.
    if (const QString notice = store->loadNotice(); !notice.isEmpty())
        err << "lumisort-cli: " << notice << Qt::endl;
    if (!FactoryDefaults::registerInto(*store)) {
        err << "lumisort-cli: the built-in factory defaults are unusable" << Qt::endl;
        return CliIo::cFailed;
    }
    for (const QString &assignment : global.values(u"--set"_s)) {
        const qsizetype eq = assignment.indexOf(u'=');
        if (eq <= 0)
            return io.usageError(u"--set needs KEY=VALUE"_s, usage());
        const QString key = assignment.left(eq);
        QString error;
        const QVariant value =
            SettingValueText::parse(assignment.mid(eq + 1), QString(), store->objectForKey(key), &error);
        if (!value.isValid())
            return io.usageError(u"--set "_s + key + u": "_s + error, usage());
        if (const std::optional<FolderSettings::Folder> folder = FolderSettings::folderForPathKey(key)) {
            if (const std::optional<QString> refusal = FolderSettings::refusal(*folder, value.toString())) {
                err << "lumisort-cli: --set " << key << ": " << *refusal << Qt::endl;
                return CliIo::cFailed;
            }
            FolderSettings::storeForThisRun(*folder, value.toString());
        } else {
            store->setOverride(key, value);
        }
    }

    // The tool writes and reads the reassignment journals too: the same records as the application's.
    ReassignJournal::prune();

    const int status = found->run(verbArgs, io);
    store->synchronize();
    return status;
}
