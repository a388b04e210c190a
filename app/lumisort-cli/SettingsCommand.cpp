#include "SettingsCommand.h"

#include "CliArguments.h"
#include "SettingValueText.h"
#include "settings/FolderSettings.h"
#include "settings/SettingsStore.h"

using namespace Qt::StringLiterals;

QString SettingsCommand::usage()
{
    return u"usage: lumisort-cli settings list\n"
           "       lumisort-cli settings get KEY\n"
           "       lumisort-cli settings set KEY VALUE [--type string|bool|int|real|data|date|plist]\n"
           "         (a VALUE beginning with \"-\" other than a number follows \"--\")\n"
           "       lumisort-cli settings remove KEY"_s;
}

int SettingsCommand::run(const QStringList &args, SettingsStore &store, CliIo &io)
{
    const CliArguments parsed(args, {{u"--type"_s, true}});
    if (!parsed.error().isEmpty())
        return io.usageError(parsed.error(), usage());
    const QStringList operands = parsed.operands();
    const bool typed = parsed.isSet(u"--type"_s);
    const QString action = operands.value(0, u"list"_s);
    if (action == u"list"_s && operands.size() <= 1 && !typed) {
        const QVariantMap all = store.dictionaryRepresentation();
        const QVariantMap stored = store.storedValues();
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            io.out << it.key() << '\t' << SettingValueText::typeName(it.value()) << '\t'
                   << (stored.contains(it.key()) ? "stored" : "default") << '\t' << SettingValueText::format(it.value())
                   << Qt::endl;
        }
        return CliIo::cOk;
    }
    if (action == u"get"_s && operands.size() == 2 && !typed) {
        const QVariant value = store.objectForKey(operands.at(1));
        if (!value.isValid()) {
            io.err << "lumisort-cli: no value for " << operands.at(1) << Qt::endl;
            return CliIo::cFailed;
        }
        io.out << SettingValueText::format(value) << Qt::endl;
        return CliIo::cOk;
    }
    if (action == u"set"_s && operands.size() == 3) {
        // A registered default says what the key holds. A stored value only
        // suggests a type: one the text does not fit (a hand-edited file) is
        // replaced, never in the way.
        const QString key = operands.at(1);
        const QString type = parsed.value(u"--type"_s);
        const QVariant expected = store.registeredDefaults().value(key);
        QString error;
        QVariant value = SettingValueText::parse(operands.at(2), type,
                                                 expected.isValid() ? expected : store.objectForKey(key), &error);
        if (!value.isValid() && !typed && !expected.isValid())
            value = SettingValueText::parse(operands.at(2), {}, {}, &error);
        if (!value.isValid())
            return io.usageError(error, usage());
        if (const std::optional<FolderSettings::Folder> folder = FolderSettings::folderForPathKey(key)) {
            if (const std::optional<QString> refusal = FolderSettings::refusal(*folder, value.toString())) {
                io.err << "lumisort-cli: " << *refusal << " Nothing was changed." << Qt::endl;
                return CliIo::cFailed;
            }
            FolderSettings::store(*folder, value.toString());
        } else {
            store.setObject(value, key);
        }
        if (!store.synchronize()) {
            io.err << "lumisort-cli: could not save the settings to " << store.filePath() << Qt::endl;
            return CliIo::cFailed;
        }
        return CliIo::cOk;
    }
    if (action == u"remove"_s && operands.size() == 2 && !typed) {
        if (const std::optional<FolderSettings::Folder> folder = FolderSettings::folderForPathKey(operands.at(1)))
            FolderSettings::remove(*folder);
        else
            store.removeObjectForKey(operands.at(1));
        return store.synchronize() ? CliIo::cOk : CliIo::cFailed;
    }
    return io.usageError(u"bad arguments for settings"_s, usage());
}
