#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Operator messages: a message text, an informative text and one to three
// buttons, shown window-modal over a window (a sheet) or application-modal.
// Return and Escape answer with the careful button, the one that changes
// nothing: the first unless the content names another, so the buttons keep
// the order operators know and their return codes stay what callers test.
// Tests queue the next answers; then nothing is shown, the answer comes back
// on the next turn of the event loop (the careful button when none is queued),
// and what would have been shown is recorded.
class Alert
{
public:
    enum class Style
    {
        Warning,
        Critical,
        Informational
    };
    static constexpr int cFirstButtonReturn = 1000;
    static constexpr int cSecondButtonReturn = 1001;
    static constexpr int cThirdButtonReturn = 1002;

    struct Content
    {
        Style style = Style::Warning;
        QString messageText;
        QString informativeText;
        QStringList buttons {QStringLiteral("OK")};
        // Index into buttons of the one Return and Escape press; an index out
        // of range means the first.
        qsizetype carefulButton = 0;

        // The careful button's return code (1000 for the first ...).
        int carefulReturn() const;
    };

    // Window-modal; done gets the button's return code (1000 for the first ...).
    static void beginSheet(QWidget *window, const Content &content, std::function<void(int)> done = {});
    // Application-modal; waits for the answer.
    static int runModal(const Content &content);
    // The system beep.
    static void beep();

    // Test seam.
    static void setTestMode(bool on);
    static void queueAnswerForTesting(int response);
    static QList<Content> shownForTesting();
    static int beepsForTesting();
    static void resetForTesting();
};
