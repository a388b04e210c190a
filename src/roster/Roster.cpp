#include "Roster.h"

#include "RosterCsv.h"
#include "model/BarcodeText.h"
#include "support/FileDescriptor.h"
#include "support/FileResult.h"
#include "support/Plural.h"

#include <QCollator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

enum class Role
{
    Id,
    FirstName,
    LastName,
    Name,
    Class,
    Teacher,
    Other
};

// "Student ID", "student_id" and "StudentId" are one column to the operator.
Role roleOf(const QString &header)
{
    QString key;
    for (const QChar c : header) {
        if (c.isLetterOrNumber())
            key += c.toCaseFolded();
    }
    static const QHash<QString, Role> roles = {
        {u"id"_s, Role::Id},
        {u"barcode"_s, Role::Id},
        {u"studentid"_s, Role::Id},
        {u"firstname"_s, Role::FirstName},
        {u"lastname"_s, Role::LastName},
        {u"name"_s, Role::Name},
        {u"grade"_s, Role::Class},
        {u"class"_s, Role::Class},
        {u"homeroom"_s, Role::Class},
        {u"group"_s, Role::Class},
        {u"teacher"_s, Role::Teacher},
    };
    return roles.value(key, Role::Other);
}

} // namespace

Roster Roster::refused(const QString &why)
{
    Roster roster;
    roster.m_error = why;
    return roster;
}

Roster Roster::load(const NativePath &path, int idColumn, Header header)
{
    const QString shown = path.displayString();
    // Non-blocking, so that a named pipe picked by mistake cannot hold the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return refused(shown + u" cannot be opened: "_s + FileResult::describeErrno(errno));
    struct stat status = {};
    if (::fstat(fd.get(), &status) != 0)
        return refused(shown + u" cannot be read: "_s + FileResult::describeErrno(errno));
    if (S_ISDIR(status.st_mode))
        return refused(shown + u" is a folder, not a roster file."_s);
    if (!S_ISREG(status.st_mode))
        return refused(shown + u" is not an ordinary file."_s);
    const auto tooLarge = [&] {
        return refused(shown + u" is larger than "_s + QString::number(cMaxBytes / (1024 * 1024))
                       + u" MB: not a roster (a photo or an archive chosen by mistake?)."_s);
    };
    if (status.st_size > cMaxBytes)
        return tooLarge();
    // The size is checked again while reading: the file may grow, and /proc files say 0.
    QByteArray bytes;
    bytes.resize(qsizetype(status.st_size) + 1);
    qsizetype done = 0;
    while (true) {
        if (done == bytes.size()) {
            if (done > cMaxBytes)
                return tooLarge();
            bytes.resize(std::min<qsizetype>(bytes.size() * 2 + 4096, cMaxBytes + 1));
        }
        const ssize_t got = FileDescriptor::readSome(fd.get(), bytes.data() + done, std::size_t(bytes.size() - done));
        if (got < 0)
            return refused(shown + u" cannot be read: "_s + FileResult::describeErrno(errno));
        if (got == 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    Roster roster = fromBytes(bytes, idColumn, header);
    if (!roster.m_error.isEmpty())
        roster.m_error = shown + u' ' + roster.m_error;
    return roster;
}

Roster Roster::fromBytes(const QByteArray &bytes, int idColumn, Header header)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }))
        return refused(u"is empty."_s);
    if (bytes.startsWith("PK\x03\x04"))
        return refused(u"is a spreadsheet workbook: save it from the spreadsheet as CSV."_s);
    const RosterCsv::Decoded decoded = RosterCsv::decode(bytes);
    // UTF-16 holds NUL bytes of its own; once decoded, no roster holds a NUL character.
    if (const qsizetype nul = decoded.text.indexOf(QChar(0)); nul >= 0)
        return refused(u"holds a NUL character (at character "_s + QString::number(nul + 1)
                       + u"): it is not a text file."_s);
    Roster roster;
    roster.m_encoding = decoded.encoding;
    roster.readRecords(decoded.text, idColumn, header);
    return roster;
}

void Roster::readRecords(const QString &text, int idColumn, Header header)
{
    // Excel names its separator in a first line "sep=;" when the locale's differs from the comma.
    // The line stays, emptied, so that line numbers are those of the file.
    QStringView rest(text);
    const QStringView declared = rest.left(6);
    if (declared.startsWith(u"sep="_s, Qt::CaseInsensitive) && declared.size() == 6
        && (declared[5] == u'\n' || declared[5] == u'\r')) {
        m_separator = declared[4];
        rest = rest.mid(5);
    } else {
        m_separator = RosterCsv::separatorOf(text);
    }
    const QList<RosterCsv::Record> records = RosterCsv::records(rest, m_separator);
    if (records.isEmpty()) {
        m_error = u"holds no rows."_s;
        return;
    }
    const qsizetype firstSubject = header == Header::None ? 0 : 1;
    if (header == Header::FirstRow && records.first().unclosedQuote) {
        m_error = u"has a quote in its header that is never closed."_s;
        return;
    }
    QList<Role> roles;
    for (qsizetype i = 0; i < records.first().fields.size(); ++i) {
        m_columns.append(header == Header::None ? u"Column "_s + QString::number(i + 1)
                                                : records.first().fields[i].trimmed());
        roles.append(header == Header::None ? Role::Other : roleOf(m_columns.last()));
    }
    if (idColumn >= m_columns.size()) {
        m_status = Status::NeedsIdColumn;
        m_error = u"has no column "_s + QString::number(idColumn + 1) + u": its header has "_s
            + Plural::count(m_columns.size(), u"column"_s, u"columns"_s) + u'.';
        return;
    }
    m_idColumn = idColumn >= 0 ? idColumn : int(roles.indexOf(Role::Id));
    if (m_idColumn < 0) {
        m_status = Status::NeedsIdColumn;
        m_error = u"has no column named id, barcode or student id: which column holds the ids?"_s;
        return;
    }
    roles[m_idColumn] = Role::Id;
    if (records.size() == firstSubject) {
        m_error = u"has a header and no subjects."_s;
        return;
    }

    // One column per role: a second "Grade" beside "Homeroom" is kept as written.
    QList<int> column(int(Role::Other), -1);
    QList<int> others;
    for (int i = 0; i < roles.size(); ++i) {
        const int role = int(roles[i]);
        if (roles[i] != Role::Other && column[role] < 0) {
            column[role] = i;
        } else {
            others.append(i);
            m_otherColumns.append(m_columns[i].isEmpty() ? u"Column "_s + QString::number(i + 1) : m_columns[i]);
        }
    }
    const auto field = [&](const QStringList &fields, Role role) {
        const int at = column[int(role)];
        return at < 0 ? QString() : fields[at].trimmed();
    };

    // A file without a header names no column: what the row holds beside its id is the best name there is.
    const bool namesNoName =
        column[int(Role::FirstName)] < 0 && column[int(Role::LastName)] < 0 && column[int(Role::Name)] < 0;

    const qsizetype width = m_columns.size();
    m_subjects.reserve(records.size() - firstSubject);
    m_byId.reserve(records.size() - firstSubject);
    for (qsizetype r = firstSubject; r < records.size(); ++r) {
        const RosterCsv::Record &record = records[r];
        const auto refuse = [&](const QString &why) { m_problems.append({record.line, why}); };
        if (record.unclosedQuote) {
            refuse(u"A quote opened in this row is never closed: the rest of the file would be one field."_s);
            break;
        }
        const QStringList &fields = record.fields;
        // A trailing separator leaves empty fields beyond the header: nothing is lost by them.
        const bool extraText = std::any_of(fields.begin() + std::min(width, fields.size()), fields.end(),
                                           [](const QString &f) { return !f.trimmed().isEmpty(); });
        if (fields.size() < width || extraText) {
            refuse(u"The row has "_s + Plural::count(fields.size(), u"field"_s, u"fields"_s)
                   + u" where the header has "_s + QString::number(width)
                   + (extraText ? u" (a name with the separator in it, not in quotes?)."_s
                                : u" (a separator missing?)."_s));
            continue;
        }
        RosterSubject subject;
        subject.id = field(fields, Role::Id);
        if (subject.id.isEmpty()) {
            refuse(u"The row has no id."_s);
            continue;
        }
        if (const std::optional<QString> bad = BarcodeText::problem(subject.id)) {
            refuse(u"The id "_s + BarcodeText::quoted(subject.id) + u" cannot be a barcode: "_s + *bad);
            continue;
        }
        if (const qsizetype first = m_byId.value(subject.id.toCaseFolded(), -1); first >= 0) {
            refuse(u"The id "_s + BarcodeText::quoted(subject.id) + u" is also on line "_s
                   + QString::number(m_subjects[first].line) + u", whose subject keeps it."_s);
            continue;
        }
        subject.line = record.line;
        subject.firstName = field(fields, Role::FirstName);
        subject.lastName = field(fields, Role::LastName);
        subject.displayName = QString(subject.firstName + u' ' + subject.lastName).trimmed();
        if (subject.displayName.isEmpty())
            subject.displayName = field(fields, Role::Name);
        if (namesNoName) {
            QStringList parts;
            for (const int at : others) {
                if (const QString part = fields[at].trimmed(); !part.isEmpty())
                    parts.append(part);
            }
            subject.displayName = parts.join(u' ');
        }
        subject.className = field(fields, Role::Class);
        subject.teacher = field(fields, Role::Teacher);
        subject.others.reserve(others.size());
        for (const int at : others)
            subject.others.append(fields[at].trimmed());
        m_byId.insert(subject.id.toCaseFolded(), m_subjects.size());
        m_subjects.append(std::move(subject));
    }
    m_status = Status::Loaded;
}

const RosterSubject *Roster::find(const QString &id) const
{
    const qsizetype at = m_byId.value(id.toCaseFolded(), -1);
    return at < 0 ? nullptr : &m_subjects[at];
}

QList<qsizetype> Roster::byClassThenName() const
{
    // The C locale's collator compares code points and knows no numbers; a sandbox or service runs in it.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QList<qsizetype> order(m_subjects.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const RosterSubject &x = m_subjects[a];
        const RosterSubject &y = m_subjects[b];
        for (const auto &[p, q] :
             {std::pair {&x.className, &y.className}, std::pair {&x.lastName, &y.lastName},
              std::pair {&x.firstName, &y.firstName}, std::pair {&x.displayName, &y.displayName}}) {
            if (const int c = collator.compare(*p, *q); c != 0)
                return c < 0;
        }
        return false;
    });
    return order;
}
