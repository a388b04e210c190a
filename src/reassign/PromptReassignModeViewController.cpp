#include "PromptReassignModeViewController.h"

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Dispatch.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"
#include "support/SystemLog.h"
#include "support/SystemSound.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

PromptReassignModeViewController::PromptReassignModeViewController(QWidget *parent)
    : QDialog(parent)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Reassignment"_s);
    auto *layout = new QVBoxLayout(this);
    auto *question = new QLabel(u"How should the marked photos be reassigned?"_s, this);
    QFont bold = question->font();
    bold.setBold(true);
    question->setFont(bold);
    layout->addWidget(question);

    const auto addChoice = [this, layout](int tag, const QString &title, const QString &explanation) {
        auto *button = new QPushButton(title, this);
        button->setProperty("tag", tag);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, button] { ibDoButton(button); });
        auto *label = new QLabel(explanation, this);
        label->setWordWrap(true);
        layout->addWidget(button);
        layout->addWidget(label);
        return button;
    };
    ibOneBarcodeButton = addChoice(200, u"One barcode for all marked photos"_s,
                                   u"Scan or type one barcode; every marked photo of the section takes it."_s);
    ibBarcodePhotosButton =
        addChoice(202, u"Barcode photos: carry each barcode over the folder"_s,
                  u"Scan the barcode shown on each barcode photo; the photos after it take that barcode "
                  u"until the next barcode photo."_s);
    awakeFromNib();
}

void PromptReassignModeViewController::awakeFromNib()
{
    logLine(u"PromptReassignModeViewController -> awakeFromNib"_s);
}

void PromptReassignModeViewController::viewWillAppear()
{
    logLine(u"PromptReassignModeViewController -> viewWillAppear"_s);
}

void PromptReassignModeViewController::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        viewWillAppear();
}

void PromptReassignModeViewController::ibDoButton(QObject *sender)
{
    const int tag = sender ? sender->property("tag").toInt() : 0;
    logLine(u"PromptReassignModeViewController -> ibDoButton.... tag="_s + QString::number(tag));
    if (tag != 200 && tag != 202) {
        SystemSound::play(SystemSound::Beep);
        return;
    }
    SettingsStore::standard().setInteger(tag, cPrefRadioSet1SelectedTag);
    accept();
    Dispatch::inBackground([] {
        QThread::msleep(cRepostDelayMs);
        Dispatch::onMain([] {
            const std::optional<QVariantMap> userInfo = SettingsStore::standard().dictionaryForKey(cPrefLastUserInfo);
            if (userInfo)
                NotificationCenter::defaultCenter().post(NotificationNames::myCustomId, *userInfo);
        });
    });
}
