#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

// Choosing a folder, window-modal over a window. Tests queue the next answer
// (a path, or nothing for Cancel); then nothing is shown.
class FolderPanel
{
public:
    struct Options
    {
        QString title;
        QString prompt; // the accept button's text
        QString message; // shown above the folders
        QString startFolder; // home when it is none or no folder
        bool canCreateDirectories = false;
        bool showsHiddenFiles = false;
    };

    // done(path) on OK; done(nullopt) on Cancel.
    static void beginSheet(QWidget *window, const Options &options,
                           std::function<void(const std::optional<QString> &)> done);

    static void setTestMode(bool on);
    static void queueAnswerForTesting(const std::optional<QString> &path);
    // As shown: with the folder it opened in.
    static std::optional<Options> lastShownForTesting();
};
