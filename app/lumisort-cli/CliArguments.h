#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The command line of one verb, read by the program itself. Arguments arrive as
// bytes and are decoded without loss: a file name that is not valid UTF-8 comes
// back to its very bytes through NativePath. Arguments beginning with "-" are
// options (a negative number is not); "--" ends the options, so that a name
// beginning with "-" can follow. Options may come before or after the other
// arguments; an option with a value takes it as "--name=value" or as the next
// argument, whatever that begins with.
class CliArguments
{
public:
    struct Option
    {
        QString name; // with its dashes: "--reverse"
        bool takesValue = false;
    };

    // Everything after the program's name, decoded losslessly.
    static QStringList fromArgv(int argc, char **argv);

    CliArguments(const QStringList &args, const QList<Option> &options);

    // Empty when the arguments were understood.
    const QString &error() const { return m_error; }
    bool isSet(const QString &name) const { return m_values.contains(name); }
    // The last value given for an option (options given twice: the last one counts).
    QString value(const QString &name) const;
    QStringList values(const QString &name) const { return m_values.value(name); }
    const QStringList &operands() const { return m_operands; }

    // An argument naming a file, made absolute against the current folder on bytes.
    static QString absolutePath(const QString &argument);

private:
    QHash<QString, QStringList> m_values;
    QStringList m_operands;
    QString m_error;
};
