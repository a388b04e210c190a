#include "SettingsCommand.h"

#include "SettingValueText.h"
#include "shell/SettingsStore.h"

using namespace Qt::StringLiterals;

QString SettingsCommand::usage()
{
    return u"usage: lumisort-cli settings list\n"
           "       lumisort-cli settings get KEY\n"
           "       lumisort-cli settings set KEY VALUE [--type string|bool|int|real|data|date|plist]\n"
           "       lumisort-cli settings remove KEY"_s;
}

int SettingsCommand::run(const QStringList &args, SettingsStore &store, CliIo &io)
{
    const QString action = args.value(0, u"list"_s);
    if (action == u"list"_s && args.size() <= 1) {
        const QVariantMap all = store.dictionaryRepresentation();
        const QVariantMap stored = store.storedValues();
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            io.out << it.key() << '\t' << SettingValueText::typeName(it.value()) << '\t'
                   << (stored.contains(it.key()) ? "stored" : "default") << '\t' << SettingValueText::format(it.value())
                   << Qt::endl;
        }
        return CliIo::cOk;
    }
    if (action == u"get"_s && args.size() == 2) {
        const QVariant value = store.objectForKey(args.at(1));
        if (!value.isValid()) {
            io.err << "lumisort-cli: no value for " << args.at(1) << Qt::endl;
            return CliIo::cFailed;
        }
        io.out << SettingValueText::format(value) << Qt::endl;
        return CliIo::cOk;
    }
    if (action == u"set"_s && (args.size() == 3 || (args.size() == 5 && args.at(3) == u"--type"_s))) {
        QString error;
        const QVariant value =
            SettingValueText::parse(args.at(2), args.value(4), store.objectForKey(args.at(1)), &error);
        if (!value.isValid())
            return io.usageError(error, usage());
        store.setObject(value, args.at(1));
        if (!store.synchronize()) {
            io.err << "lumisort-cli: could not save the settings to " << store.filePath() << Qt::endl;
            return CliIo::cFailed;
        }
        return CliIo::cOk;
    }
    if (action == u"remove"_s && args.size() == 2) {
        store.removeObjectForKey(args.at(1));
        return store.synchronize() ? CliIo::cOk : CliIo::cFailed;
    }
    return io.usageError(u"bad arguments for settings"_s, usage());
}
