#pragma once

#include "CardCopyRun.h"
#include "CardRunReport.h"
#include "StagingCopy.h"
#include "support/NativePath.h"
#include "support/RunLock.h"
#include "support/SafeFile.h"

#include <QElapsedTimer>
#include <optional>
#include <sys/types.h>

// The run in the order it happens; each phase returns false when the run stops there,
// with the result told.
class CardImportPhases
{
public:
    explicit CardImportPhases(const CardCopyRun::Options &options);

    const CardCopyRun::Result &result() const { return m_result; }

    // What the import counts as a photo: the whole path lets the type be judged by
    // content where the name says nothing.
    static bool isImage(const SafeFileEntry &entry);

    // Lists the card and decides which photo goes under which name.
    bool listCard();

    // The working folder is checked before anything is copied: copies that could not
    // be put anywhere would only become a second place where photos wait.
    bool checkWorkingFolder();

    // The staging folder made afresh; what earlier imports kept (a killed run's copies among
    // them) goes once each of its files is found on this card or in the working folder,
    // before the working folder is cleared.
    bool prepareStaging();

    // Room for every photo, where it is staged and (when that is another file system)
    // where it goes; what the working folder holds now moves to a trash on its own file system.
    bool checkRoom();

    // The working folder is cleared only for a complete, checked staging copy.
    bool stage();

    // Under the filing run's own lock: the folder is never cleared while photos are filed out of it.
    // It is cleared before the card is ejected, so that a folder that cannot be
    // cleared leaves the card in place with every photo on it.
    bool clearWorkingFolder();

    void ejectCard();

    // What the card brought in is recorded before it arrives: a photo in the folder is
    // never without its record. A card mixing naming styles has no part count to agree on.
    void recordNames();

    // Renames on one file system; elsewhere checked copies whose staged originals then go.
    bool transfer();

private:
    using Outcome = CardCopyRun::Outcome;
    using Planned = StagingCopy::Item;

    void planNames(const QList<SafeFileEntry> &entries);

    bool finish(Outcome outcome);
    bool stopWithSummary(Outcome outcome);
    bool refuse(const QString &message);
    // Copies that are not needed (the card, not ejected, still holds every photo) go; others are kept.
    void dropStaging();

    const CardCopyRun::Options &m_options;
    CardRunReport m_report;
    CardCopyRun::Result m_result;
    QElapsedTimer m_timer;
    const QString m_working;
    const QString m_stagingPath;
    const NativePath m_staging;
    RunLock m_importLock;
    std::optional<RunLock> m_filingLock;
    QString m_card;
    dev_t m_workingDevice = 0;
    QList<Planned> m_plan;
    QList<NativePath> m_cardFiles; // where a copy kept by an earlier import may also be
    QList<NativePath> m_staged;
    CardCopyRun::Progress m_progress;
    QString m_earlierNote;
};
