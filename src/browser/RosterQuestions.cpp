#include "RosterQuestions.h"

#include "support/Dispatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
bool g_testMode = false;
QList<std::optional<RosterQuestions::IdColumn>> g_idColumns;
QList<std::optional<CameraCardSheet::Options>> g_cardOptions;

// A window-modal dialog with a message, the fields of a form and OK and Cancel; accepted()
// reads the fields when OK is pressed.
QDialog *formDialog(QWidget *window, const QString &title, const QString &message, QFormLayout **form)
{
    auto *dialog = new QDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(dialog);
    auto *label = new QLabel(message, dialog);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    *form = new QFormLayout;
    layout->addLayout(*form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog;
}
} // namespace

void RosterQuestions::askIdColumn(QWidget *window, const QString &fileName, const QStringList &columns,
                                  std::function<void(const std::optional<IdColumn> &)> done)
{
    if (g_testMode) {
        const std::optional<IdColumn> answer = g_idColumns.isEmpty() ? std::nullopt : g_idColumns.takeFirst();
        Dispatch::onMain([answer, done = std::move(done)] { done(answer); });
        return;
    }
    QFormLayout *form = nullptr;
    QDialog *dialog = formDialog(window, u"Which Column Holds the Barcodes?"_s,
                                 u"No column of the roster "_s + fileName
                                     + u" is named as its ids. Choose the column printed as barcodes on the "
                                       "camera cards; the first row of the file is shown."_s,
                                 &form);
    auto *column = new QComboBox(dialog);
    for (qsizetype i = 0; i < columns.size(); ++i)
        column->addItem(u"Column "_s + QString::number(i + 1) + u": "_s + columns.at(i).left(40));
    auto *noHeader = new QCheckBox(u"The first row is a subject (the file has no header)"_s, dialog);
    form->addRow(u"Barcode column:"_s, column);
    form->addRow(QString(), noHeader);
    QObject::connect(dialog, &QDialog::finished, dialog, [column, noHeader, done](int result) {
        if (result != QDialog::Accepted)
            return done(std::nullopt);
        done(
            IdColumn {column->currentIndex(), noHeader->isChecked() ? Roster::Header::None : Roster::Header::FirstRow});
    });
    dialog->open();
}

void RosterQuestions::askCardOptions(QWidget *window, qsizetype cards,
                                     std::function<void(const std::optional<CameraCardSheet::Options> &)> done)
{
    if (g_testMode) {
        const std::optional<CameraCardSheet::Options> answer =
            g_cardOptions.isEmpty() ? std::nullopt : g_cardOptions.takeFirst();
        Dispatch::onMain([answer, done = std::move(done)] { done(answer); });
        return;
    }
    QFormLayout *form = nullptr;
    QDialog *dialog = formDialog(window, u"Print Camera Cards"_s,
                                 u"A card for each of the "_s + QString::number(cards)
                                     + u" subjects of the roster, by class and name, ten to a sheet with cut marks."_s,
                                 &form);
    auto *format = new QComboBox(dialog);
    format->addItem(u"Code 128 (a line of bars)"_s, int(CameraCardSheet::Format::Code128));
    format->addItem(u"Data Matrix (a small square)"_s, int(CameraCardSheet::Format::DataMatrix));
    format->addItem(u"QR code"_s, int(CameraCardSheet::Format::QrCode));
    auto *paper = new QComboBox(dialog);
    paper->addItem(u"A4"_s, int(QPageSize::A4));
    paper->addItem(u"US Letter"_s, int(QPageSize::Letter));
    paper->setCurrentIndex(CameraCardSheet::defaultPaper() == QPageSize::Letter ? 1 : 0);
    form->addRow(u"Code:"_s, format);
    form->addRow(u"Paper:"_s, paper);
    QObject::connect(dialog, &QDialog::finished, dialog, [format, paper, done](int result) {
        if (result != QDialog::Accepted)
            return done(std::nullopt);
        CameraCardSheet::Options options;
        options.format = CameraCardSheet::Format(format->currentData().toInt());
        options.paper = QPageSize::PageSizeId(paper->currentData().toInt());
        done(options);
    });
    dialog->open();
}

void RosterQuestions::setTestMode(bool on)
{
    g_testMode = on;
    g_idColumns.clear();
    g_cardOptions.clear();
}

void RosterQuestions::queueIdColumnForTesting(const std::optional<IdColumn> &answer)
{
    g_idColumns.append(answer);
}

void RosterQuestions::queueCardOptionsForTesting(const std::optional<CameraCardSheet::Options> &answer)
{
    g_cardOptions.append(answer);
}
