#pragma once

#include "Roster.h"

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

// The day's roster as the window knows it: the file the operator opened, remembered across
// starts by a reference that finds it again after it was moved or renamed, read off the
// window's thread, and read again whenever the file is saved (spreadsheets save by writing a
// new file over the name, which ends a plain watch of it).
class RosterSource : public QObject
{
    Q_OBJECT

public:
    // What the roster says of a code, for a header, the reassignment sheet or a list.
    struct Lookup
    {
        enum class Kind
        {
            NoRoster, // none open, or the text is no code: nothing is said
            Listed,
            Unlisted, // a code the roster lacks: a likely misread or typing slip
        };
        Kind kind = Kind::NoRoster;
        QString text; // the subject's name and class, or that the code is not on the roster
    };

    static RosterSource &shared();

    std::shared_ptr<const Roster> roster() const { return m_roster; }
    const QString &path() const { return m_path; }
    Lookup lookUp(const QString &code) const;
    static QString describe(const RosterSubject &subject);

    // A roster read and accepted by the operator becomes the day's roster and is remembered,
    // with the id column they chose (-1 when the header named it).
    void open(const QString &path, int idColumn, Roster::Header header, std::shared_ptr<const Roster> loaded);
    void close();
    // Reads the remembered roster, following its reference when the file was moved.
    void restore();
    bool isLoading() const { return m_loading.isRunning(); }

Q_SIGNALS:
    void changed();
    // The remembered file could not be read again; the last roster read stays in use.
    void loadFailed(const QString &why);

private:
    RosterSource();
    void rememberFile();
    void watch();
    void reload();
    void loaded();

    std::shared_ptr<const Roster> m_roster;
    QString m_path;
    int m_idColumn = -1;
    Roster::Header m_header = Roster::Header::FirstRow;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QFutureWatcher<Roster> m_loading;
    bool m_reloadAgain = false;
    // Each choice of roster (open, close, restore) is a generation: a reading of an earlier one is dropped.
    int m_generation = 0;
    int m_loadingGeneration = 0;
};
