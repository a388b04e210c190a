#include "RosterTableModel.h"

#include <QColor>

using namespace Qt::StringLiterals;

namespace {

// Digit runs padded to one width, so that a plain string comparison orders the numbers inside
// ids and class names by value. Letters compare without case, as ids are matched.
QString naturalKey(const QString &text)
{
    constexpr qsizetype cWidth = 12;
    QString key;
    key.reserve(text.size() + cWidth);
    for (qsizetype at = 0; at < text.size();) {
        if (!text.at(at).isDigit()) {
            key += text.at(at).toCaseFolded();
            ++at;
            continue;
        }
        qsizetype end = at;
        while (end < text.size() && text.at(end).isDigit())
            ++end;
        QStringView digits = QStringView(text).sliced(at, end - at);
        while (digits.size() > 1 && digits.front() == u'0')
            digits = digits.sliced(1);
        if (digits.size() < cWidth)
            key += QString(cWidth - digits.size(), u'0');
        key += digits;
        at = end;
    }
    return key;
}

} // namespace

RosterTableModel::RosterTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void RosterTableModel::setReport(const RosterReport &report)
{
    beginResetModel();
    m_report = report;
    endResetModel();
}

int RosterTableModel::totalColumn() const
{
    return FirstCountColumn + int(m_report.folders().size());
}

int RosterTableModel::statusColumn() const
{
    return totalColumn() + 1;
}

int RosterTableModel::rowOf(const QString &id) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (idAt(row).compare(id, Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

int RosterTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_report.rows().size() + m_report.strays().size());
}

int RosterTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : statusColumn() + 1;
}

QString RosterTableModel::strayText()
{
    return u"Not on the roster"_s;
}

RosterTableModel::Kind RosterTableModel::kindAt(int row) const
{
    if (row >= m_report.rows().size())
        return StrayKind;
    switch (m_report.rows().at(row).mark) {
    case RosterReport::Mark::Enough:
        return EnoughKind;
    case RosterReport::Mark::Missing:
        return MissingKind;
    case RosterReport::Mark::Short:
        return ShortKind;
    }
    return MissingKind;
}

QString RosterTableModel::idAt(int row) const
{
    const qsizetype rows = m_report.rows().size();
    return row < rows ? m_report.rows().at(row).subject.id : m_report.strays().at(row - rows).id;
}

QVariant RosterTableModel::cell(int row, int column) const
{
    const qsizetype rows = m_report.rows().size();
    const RosterReport::Row *subject = row < rows ? &m_report.rows().at(row) : nullptr;
    const RosterReport::Stray *stray = subject ? nullptr : &m_report.strays().at(row - rows);
    if (column == IdColumn)
        return idAt(row);
    if (column == NameColumn)
        return subject ? subject->subject.displayName : QString();
    if (column == ClassColumn)
        return subject ? subject->subject.className : QString();
    if (column == totalColumn())
        return subject ? subject->total : stray->total;
    if (column == statusColumn())
        return subject ? RosterReport::markText(subject->mark, m_report.minimumPhotos()) : strayText();
    return (subject ? subject->counts : stray->counts).value(column - FirstCountColumn);
}

QVariant RosterTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const int column = index.column();
    const Kind kind = kindAt(row);
    const bool counted = column >= FirstCountColumn && column <= totalColumn();
    switch (role) {
    case Qt::DisplayRole:
        return cell(row, column);
    case SortRole: {
        const QVariant value = cell(row, column);
        return counted ? value : QVariant(naturalKey(value.toString()));
    }
    case IdRole:
        return idAt(row);
    case KindRole:
        return int(kind);
    case SearchRole:
        return QString(idAt(row) + u'\n' + cell(row, NameColumn).toString());
    case Qt::TextAlignmentRole:
        return counted ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    case Qt::ForegroundRole:
        switch (kind) {
        case EnoughKind:
            return {};
        case MissingKind:
            return QColor(0xc6, 0x28, 0x28);
        case ShortKind:
            return QColor(0xb8, 0x5c, 0x00);
        case StrayKind:
            return QColor(0x6a, 0x4c, 0x9c);
        }
        return {};
    case Qt::DecorationRole:
        // A swatch beside the status word, so a marked row stands out when scanning the column.
        if (column != statusColumn() || kind == EnoughKind)
            return {};
        return data(index, Qt::ForegroundRole);
    default:
        return {};
    }
}

QVariant RosterTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const bool folder = section >= FirstCountColumn && section < totalColumn();
    if (role == Qt::ToolTipRole && folder)
        return m_report.folders().at(section - FirstCountColumn).path;
    if (role != Qt::DisplayRole)
        return {};
    if (folder)
        return m_report.folders().at(section - FirstCountColumn).label;
    if (section == IdColumn)
        return u"Id"_s;
    if (section == NameColumn)
        return u"Name"_s;
    if (section == ClassColumn)
        return u"Class"_s;
    return section == totalColumn() ? u"Total"_s : u"Status"_s;
}
