#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Operator messages: a message text, an informative text and one to three
// buttons, shown window-modal over a window (a sheet) or application-modal.
// Tests queue the next answers; then nothing is shown, the answer comes back
// on the next turn of the event loop, and what would have been shown is recorded.
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
