#include "PlaceholderSheet.h"

#include "Dispatch.h"
#include "NotificationCenter.h"
#include "NotificationNames.h"

#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
QString describe(const Notification &n)
{
    QVariantMap shown;
    for (auto it = n.userInfo.cbegin(); it != n.userInfo.cend(); ++it) {
        if (it.value().canConvert<QList<QUrl>>() && it.value().typeId() != QMetaType::QString) {
            QStringList paths;
            for (const QUrl &url : it.value().value<QList<QUrl>>())
                paths << url.toLocalFile();
            shown.insert(it.key(), paths);
        } else {
            shown.insert(it.key(), it.value());
        }
    }
    return n.name + u'\n'
        + QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(shown)).toJson(QJsonDocument::Indented));
}
} // namespace

PlaceholderSheet::PlaceholderSheet(const QString &segueIdentifier, QWidget *parent)
    : QDialog(parent)
    , m_text(new QPlainTextEdit(this))
{
    setWindowTitle(segueIdentifier);
    m_text->setReadOnly(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(u"This workflow is not available yet. It received:"_s, this));
    layout->addWidget(m_text);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(560, 360);
    // Registered while the sheet loads, before the browser posts its input.
    for (const QString &name : {NotificationNames::myReassignId, NotificationNames::mycopytomainfolder}) {
        NotificationCenter::defaultCenter().addObserver(this, name, [this](const Notification &n) {
            const QString text = describe(n);
            QPointer<PlaceholderSheet> self(this);
            // Never waits for the main thread: the main thread may be closing this sheet and
            // waiting, in the observer's removal, for this very delivery to end.
            const auto show = [self, text] {
                if (self)
                    self->m_text->appendPlainText(text);
            };
            if (Dispatch::isMainThread())
                show();
            else
                Dispatch::onMain(show);
        });
    }
}

PlaceholderSheet::~PlaceholderSheet()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

QString PlaceholderSheet::receivedText() const
{
    return m_text->toPlainText();
}
