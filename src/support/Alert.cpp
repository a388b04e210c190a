#include "Alert.h"

#include "Dispatch.h"

#include <QApplication>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QPushButton>
#include <cstdio>

namespace {
struct TestState
{
    bool on = false;
    QList<int> answers;
    QList<Alert::Content> shown;
    int beeps = 0;
};
QMutex g_lock;
TestState g_test;

QMessageBox::Icon iconFor(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Critical:
        return QMessageBox::Critical;
    case Alert::Style::Informational:
        return QMessageBox::Information;
    case Alert::Style::Warning:
        break;
    }
    return QMessageBox::Warning;
}

// Scripts and tests that run the whole program as a process set this variable:
// every alert is written to standard error and answered with its first button.
bool answersFromEnvironment()
{
    static const bool on = qEnvironmentVariableIntValue("LUMISORT_ALERTS_ANSWER_FIRST") == 1;
    return on;
}

// In test mode: records the alert and says which answer to give (the careful button when none is queued).
std::optional<int> testAnswer(const Alert::Content &content)
{
    if (answersFromEnvironment()) {
        const QByteArray line =
            "ALERT: " + content.messageText.toUtf8() + " | " + content.informativeText.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        return Alert::cFirstButtonReturn;
    }
    QMutexLocker locker(&g_lock);
    if (!g_test.on)
        return std::nullopt;
    g_test.shown.append(content);
    return g_test.answers.isEmpty() ? content.carefulReturn() : g_test.answers.takeFirst();
}

QMessageBox *makeBox(QWidget *parent, const Alert::Content &content, QList<QAbstractButton *> &buttons)
{
    auto *box = new QMessageBox(parent);
    box->setIcon(iconFor(content.style));
    box->setText(content.messageText);
    box->setInformativeText(content.informativeText);
    const QStringList titles = content.buttons.isEmpty() ? QStringList {QStringLiteral("OK")} : content.buttons;
    for (qsizetype i = 0; i < titles.size(); ++i)
        buttons.append(box->addButton(titles.at(i), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    // Return and Escape both answer with the careful choice ("NO - Do Nothing", "Cancel",
    // "OK"): a key pressed by reflex must never eject, delete or import.
    QAbstractButton *careful = buttons.at(content.carefulReturn() - Alert::cFirstButtonReturn);
    box->setDefaultButton(qobject_cast<QPushButton *>(careful));
    box->setEscapeButton(careful);
    return box;
}
} // namespace

int Alert::Content::carefulReturn() const
{
    const qsizetype count = std::max<qsizetype>(buttons.size(), 1);
    return cFirstButtonReturn + int(carefulButton >= 0 && carefulButton < count ? carefulButton : 0);
}

void Alert::beginSheet(QWidget *window, const Content &content, std::function<void(int)> done)
{
    if (const std::optional<int> answer = testAnswer(content)) {
        Dispatch::onMain([answer, done = std::move(done)] {
            if (done)
                done(*answer);
        });
        return;
    }
    QList<QAbstractButton *> buttons;
    QMessageBox *box = makeBox(window, content, buttons);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [buttons, done](QAbstractButton *clicked) {
        const int index = int(buttons.indexOf(clicked));
        if (done)
            done(cFirstButtonReturn + std::max(index, 0));
    });
    box->open();
}

int Alert::runModal(const Content &content)
{
    if (const std::optional<int> answer = testAnswer(content))
        return *answer;
    QList<QAbstractButton *> buttons;
    std::unique_ptr<QMessageBox> box(makeBox(nullptr, content, buttons));
    box->exec();
    return cFirstButtonReturn + std::max(int(buttons.indexOf(box->clickedButton())), 0);
}

void Alert::beep()
{
    {
        QMutexLocker locker(&g_lock);
        if (g_test.on) {
            ++g_test.beeps;
            return;
        }
    }
    QApplication::beep();
}

void Alert::setTestMode(bool on)
{
    QMutexLocker locker(&g_lock);
    g_test.on = on;
}

void Alert::queueAnswerForTesting(int response)
{
    QMutexLocker locker(&g_lock);
    g_test.answers.append(response);
}

QList<Alert::Content> Alert::shownForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_test.shown;
}

int Alert::beepsForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_test.beeps;
}

void Alert::resetForTesting()
{
    QMutexLocker locker(&g_lock);
    const bool on = g_test.on;
    g_test = TestState();
    g_test.on = on;
}
