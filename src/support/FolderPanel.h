#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// Choosing a folder (or a file to open or to save), window-modal over a window. Tests queue
// the next answer (a path, or nothing for Cancel); then nothing is shown.
class FolderPanel
{
public:
    enum class Mode
    {
        Folder,
        OpenFile,
        SaveFile, // the dialog asks before a file of the name is replaced
    };
    struct Options
    {
        Mode mode = Mode::Folder;
        QStringList nameFilters; // "Rosters (*.csv *.txt)" ...: files only
        QString fileName; // proposed for a file to save
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
