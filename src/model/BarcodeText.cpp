#include "BarcodeText.h"

#include "support/Plural.h"

#include <QStringView>

using namespace Qt::StringLiterals;

std::optional<QString> BarcodeText::problem(const QString &barcode)
{
    if (barcode.contains(u'/'))
        return u"A barcode cannot contain \"/\": the photos would be moved into another folder."_s;
    for (const QChar c : barcode) {
        // Tabs, line breaks, NUL, DEL and the C1 controls: no file name should carry them.
        if (c.category() == QChar::Other_Control)
            return u"A barcode cannot contain control characters (tab, line break, NUL ...)."_s;
        // A right-to-left override shows the names after it reversed; zero-width spaces and
        // byte order marks make two names that look alike differ.
        if (c.category() == QChar::Other_Format)
            return u"A barcode cannot contain invisible characters (direction marks, zero-width spaces ...): "
                   u"the names would not read as they are."_s;
    }
    // A name that is not valid text (bytes that were not UTF-8) cannot be shown or scanned back.
    if (!QStringView(barcode).isValidUtf16())
        return u"A barcode must be valid text."_s;
    // Memory cards (FAT, exFAT) and network shares refuse these in a file name: the photos
    // could be named here but never filed there.
    for (const QChar c : u"*:\\?\"<>|"_s) {
        if (barcode.contains(c))
            return u"A barcode cannot contain "_s + (c == u'"' ? u"'\"'"_s : u'"' + c + u'"')
                + u": memory cards and network folders do not take it in a file name."_s;
    }
    if (barcode.contains(u".."_s))
        return u"A barcode cannot contain \"..\"."_s;
    if (barcode.startsWith(u'.'))
        return u"A barcode cannot begin with \".\": the photos would become hidden files."_s;
    if (barcode.startsWith(u'-'))
        return u"A barcode cannot begin with \"-\": commands would take the photos' names for options."_s;
    if (barcode.toUtf8().size() > cMaxBytes)
        return u"A barcode cannot be longer than "_s + QString::number(cMaxBytes)
            + u" bytes: it would not fit in a file name."_s;
    return std::nullopt;
}

QString BarcodeText::lengthRulePlace()
{
    return u"Preferences, Reassignment, \u201cRequired length\u201d"_s;
}

std::optional<QString> BarcodeText::lengthProblem(const QString &barcode, bool enforced, qint64 required)
{
    // An empty entry and a longer one pass; only a partial scan is caught here.
    if (!enforced || barcode.isEmpty() || barcode.size() >= required)
        return std::nullopt;
    return u"The barcode length rule asks for at least "_s + Plural::count(required, u"character"_s, u"characters"_s)
        + u"; this one has "_s + QString::number(barcode.size()) + u" (the rule is set in "_s + lengthRulePlace()
        + u")."_s;
}

BarcodeText::Choice BarcodeText::choose(const QStringList &codes, bool enforced, qint64 required)
{
    for (const QString &code : codes) {
        if (const std::optional<QString> refused = problem(code))
            return {QString(), quoted(code) + u" was read: "_s + *refused};
    }
    for (const QString &code : codes) {
        if (!lengthProblem(code, enforced, required))
            return {code, QString()};
    }
    if (codes.isEmpty())
        return {};
    return {QString(), quoted(codes.first()) + u" was read: "_s + *lengthProblem(codes.first(), enforced, required)};
}

QString BarcodeText::quoted(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const bool hidden = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        shown += hidden || c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
    }
    if (shown.size() > 60)
        shown = shown.left(59) + u'\u2026';
    return u'"' + shown + u'"';
}
