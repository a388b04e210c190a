#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// What the sheet takes from its barcode field, under the length rule in force:
// a scan's first line, refused with the reason the operator reads under the
// field, and the order in which codes read in a photo are proposed.
class BarcodeEntryRules
{
public:
    BarcodeEntryRules(bool enforced, qint64 required)
        : m_enforced(enforced)
        , m_required(required)
    { }
    // The rule as the settings set it now.
    static BarcodeEntryRules stored();

    bool enforced() const { return m_enforced; }
    qint64 required() const { return m_required; }

    // A scan as the sheet takes it: trimmed, line endings as line feeds, the first line only.
    static QString entryOf(const QString &fieldText);
    // Why an entry cannot be taken, naming the entry; nothing when it can.
    std::optional<QString> rejectionOf(const QString &entry) const;
    // Why a code read in the photo, proposed in the field, would be refused on Return.
    std::optional<QString> proposalProblem(const QString &code) const;
    // The second prompt line: the length asked for, empty while the rule is off.
    QString lengthHint() const;
    // Codes a photo's readings propose, those the rules take first.
    QStringList proposalOrder(QStringList codes) const;
    // The one length every acceptable code read agrees on, when the rule refuses it.
    std::optional<qsizetype> agreedLength(const QHash<QString, QStringList> &codesOfPath) const;

private:
    bool m_enforced;
    qint64 m_required;
};
