#include "BarcodeEntryRules.h"

#include "model/BarcodeText.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Plural.h"

#include <QSet>
#include <algorithm>

using namespace Qt::StringLiterals;

BarcodeEntryRules BarcodeEntryRules::stored()
{
    const SettingsStore &store = SettingsStore::standard();
    return {store.boolForKey(cPrefCheckReassignedBarcodeLength),
            store.integerForKey(cPrefReassignedBarcodeRequiredLength)};
}

QString BarcodeEntryRules::entryOf(const QString &fieldText)
{
    QString text = fieldText.trimmed();
    text.replace(u'\r', u'\n');
    text.replace(u"\n\n"_s, u"\n"_s);
    text = text.trimmed();
    return text.section(u'\n', 0, 0);
}

std::optional<QString> BarcodeEntryRules::rejectionOf(const QString &entry) const
{
    std::optional<QString> problem = BarcodeText::problem(entry);
    if (!problem)
        problem = BarcodeText::lengthProblem(entry, m_enforced, m_required);
    if (problem)
        return BarcodeText::quoted(entry) + u" was refused. "_s + *problem;
    return std::nullopt;
}

std::optional<QString> BarcodeEntryRules::proposalProblem(const QString &code) const
{
    std::optional<QString> rejection = rejectionOf(code);
    if (!rejection)
        return std::nullopt;
    return rejection->replace(u" was refused. "_s, u" was read in this photo. "_s)
        + u" Type or scan the barcode this photo shows."_s;
}

QString BarcodeEntryRules::lengthHint() const
{
    // The rule counts characters, letters as well as digits, and lets longer codes pass.
    if (!m_enforced)
        return QString();
    return u"( Barcode must be at least "_s + Plural::count(m_required, u"character"_s, u"characters"_s) + u". )"_s;
}

QStringList BarcodeEntryRules::proposalOrder(QStringList codes) const
{
    // A code too short to be a barcode is offered last: most often a second, smaller code on the card.
    std::stable_partition(codes.begin(), codes.end(), [this](const QString &code) {
        return BarcodeText::isAcceptable(code) && !BarcodeText::lengthProblem(code, m_enforced, m_required);
    });
    return codes;
}

std::optional<qsizetype> BarcodeEntryRules::agreedLength(const QHash<QString, QStringList> &codesOfPath) const
{
    if (!m_enforced)
        return std::nullopt;
    QSet<qsizetype> lengths;
    for (const QStringList &codes : codesOfPath) {
        for (const QString &code : codes) {
            if (!code.isEmpty() && BarcodeText::isAcceptable(code))
                lengths.insert(code.size());
        }
    }
    // A studio's own cards (Code 128 ids such as P26-0417) all have one length the rule was not set for.
    if (lengths.size() != 1 || *lengths.cbegin() >= m_required)
        return std::nullopt;
    return *lengths.cbegin();
}
