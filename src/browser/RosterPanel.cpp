#include "RosterPanel.h"

#include "roster/RosterTableModel.h"
#include "support/Plural.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QString anyOfKinds(std::initializer_list<RosterTableModel::Kind> kinds)
{
    QStringList numbers;
    for (const RosterTableModel::Kind kind : kinds)
        numbers << QString::number(int(kind));
    return u"^("_s + numbers.join(u'|') + u")$"_s;
}

} // namespace

RosterPanel::RosterPanel(QWidget *parent)
    : QWidget(parent)
    , summaryLabel(new QLabel(this))
    , hintLabel(new QLabel(u"File ▸ Open Roster…"_s, this))
    , problemLabel(new QLabel(this))
    , classFilter(new QComboBox(this))
    , showFilter(new QComboBox(this))
    , searchField(new QLineEdit(this))
    , table(new QTableView(this))
    , m_model(new RosterTableModel(this))
    , m_byClass(new QSortFilterProxyModel(this))
    , m_byShow(new QSortFilterProxyModel(this))
    , m_bySearch(new QSortFilterProxyModel(this))
{
    setObjectName(u"rosterPanel"_s);
    summaryLabel->setObjectName(u"rosterSummary"_s);
    summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hintLabel->setEnabled(false);
    problemLabel->setWordWrap(true);
    problemLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_byClass->setSourceModel(m_model);
    m_byClass->setFilterKeyColumn(RosterTableModel::ClassColumn);
    m_byShow->setSourceModel(m_byClass);
    m_byShow->setFilterRole(RosterTableModel::KindRole);
    m_byShow->setFilterKeyColumn(RosterTableModel::IdColumn);
    m_bySearch->setSourceModel(m_byShow);
    m_bySearch->setFilterRole(RosterTableModel::SearchRole);
    m_bySearch->setFilterKeyColumn(RosterTableModel::IdColumn);
    m_bySearch->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_bySearch->setSortRole(RosterTableModel::SortRole);

    classFilter->setToolTip(u"Show one class"_s);
    showFilter->addItem(u"Everyone"_s, ShowEveryone);
    showFilter->addItem(u"Without enough photos"_s, ShowWithoutEnough);
    showFilter->addItem(u"Not on the roster"_s, ShowStrays);
    searchField->setPlaceholderText(u"Search name or id"_s);
    searchField->setClearButtonEnabled(true);

    table->setModel(m_bySearch);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Roster order until the operator sorts by a column, and back to it on a third click.
    table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table->horizontalHeader()->setSortIndicatorClearable(true);
    table->setSortingEnabled(true);

    auto *filters = new QHBoxLayout;
    filters->addWidget(classFilter);
    filters->addWidget(showFilter);
    filters->addWidget(searchField, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(hintLabel);
    layout->addWidget(problemLabel);
    layout->addLayout(filters);
    layout->addWidget(table, 1);

    connect(classFilter, &QComboBox::currentIndexChanged, this, &RosterPanel::applyClass);
    connect(showFilter, &QComboBox::currentIndexChanged, this, &RosterPanel::applyShow);
    connect(searchField, &QLineEdit::textChanged, this, &RosterPanel::applySearch);
    // Double-click and Return both activate a row.
    connect(table, &QAbstractItemView::activated, this, [this](const QModelIndex &index) {
        Q_EMIT subjectActivated(index.data(RosterTableModel::IdRole).toString());
    });
    clearReport();
}

void RosterPanel::setReport(const RosterReport &report)
{
    const QString selected = selectedId();
    // The report is remade whenever a folder changes: widths the operator set stay unless the
    // columns themselves change.
    const auto labels = [](const RosterReport &r) {
        QStringList names;
        for (const RosterReport::Folder &folder : r.folders())
            names << folder.label;
        return names;
    };
    const bool newColumns = !m_hasReport || labels(m_model->report()) != labels(report);
    m_model->setReport(report);
    m_hasReport = true;
    fillClasses();
    setFiltersEnabled(true);
    showSummary();
    if (!selected.isEmpty())
        selectId(selected);
    if (newColumns)
        table->resizeColumnsToContents();
}

void RosterPanel::clearReport()
{
    m_model->setReport(RosterReport());
    m_hasReport = false;
    fillClasses();
    setFiltersEnabled(false);
    showSummary();
}

QString RosterPanel::selectedId() const
{
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : rows.constFirst().data(RosterTableModel::IdRole).toString();
}

bool RosterPanel::selectId(const QString &id)
{
    const int sourceRow = m_model->rowOf(id);
    if (sourceRow < 0)
        return false;
    const QModelIndex shown =
        m_bySearch->mapFromSource(m_byShow->mapFromSource(m_byClass->mapFromSource(m_model->index(sourceRow, 0))));
    if (!shown.isValid())
        return false;
    table->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table->scrollTo(shown);
    return true;
}

void RosterPanel::setFiltersEnabled(bool enabled)
{
    classFilter->setEnabled(enabled);
    showFilter->setEnabled(enabled);
    searchField->setEnabled(enabled);
}

void RosterPanel::fillClasses()
{
    const QString chosen = classFilter->currentData().toString();
    QStringList classes;
    for (const RosterReport::Row &row : m_model->report().rows()) {
        const QString &name = row.subject.className;
        if (!name.isEmpty() && !classes.contains(name))
            classes << name;
    }
    const QSignalBlocker quiet(classFilter);
    classFilter->clear();
    classFilter->addItem(u"All classes"_s);
    for (const QString &name : std::as_const(classes))
        classFilter->addItem(name, name);
    classFilter->setCurrentIndex(std::max(0, classFilter->findData(chosen)));
    applyClass();
}

void RosterPanel::applyClass()
{
    const QString chosen = classFilter->currentData().toString();
    m_byClass->setFilterRegularExpression(
        chosen.isEmpty() ? QRegularExpression()
                         : QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(chosen))));
}

void RosterPanel::applyShow()
{
    switch (Show(showFilter->currentData().toInt())) {
    case ShowEveryone:
        m_byShow->setFilterRegularExpression(QString());
        break;
    case ShowWithoutEnough:
        m_byShow->setFilterRegularExpression(anyOfKinds({RosterTableModel::MissingKind, RosterTableModel::ShortKind}));
        break;
    case ShowStrays:
        m_byShow->setFilterRegularExpression(anyOfKinds({RosterTableModel::StrayKind}));
        break;
    }
}

void RosterPanel::applySearch()
{
    m_bySearch->setFilterFixedString(searchField->text().trimmed());
}

void RosterPanel::showSummary()
{
    const RosterReport &report = m_model->report();
    hintLabel->setVisible(!m_hasReport);
    problemLabel->setText(report.problems().join(u'\n'));
    problemLabel->setVisible(!report.problems().isEmpty());
    if (!m_hasReport) {
        summaryLabel->setText(u"No roster open"_s);
        return;
    }
    QStringList parts {Plural::count(report.rows().size(), u"subject"_s, u"subjects"_s)};
    parts << QString::number(report.missingCount()) + u" without photos"_s;
    parts << QString::number(report.shortCount()) + u" short"_s;
    if (!report.strays().isEmpty())
        parts << Plural::count(report.strays().size(), u"code"_s, u"codes"_s) + u" not on the roster"_s;
    summaryLabel->setText(parts.join(u" · "_s));
}
