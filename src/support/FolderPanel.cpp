#include "FolderPanel.h"

#include "Dispatch.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_lock;
bool g_testMode = false;
QList<std::optional<QString>> g_answers;
std::optional<FolderPanel::Options> g_lastShown;
} // namespace

void FolderPanel::beginSheet(QWidget *window, const Options &requested,
                             std::function<void(const std::optional<QString> &)> done)
{
    // The dialog would open wherever the process was started (the folder a launcher or
    // a terminal happened to be in): home is the one place every operator knows.
    Options options = requested;
    if (options.startFolder.isEmpty() || !QFileInfo(options.startFolder).isDir())
        options.startFolder = QDir::homePath();
    {
        QMutexLocker locker(&g_lock);
        g_lastShown = options;
        if (g_testMode) {
            const std::optional<QString> answer = g_answers.isEmpty() ? std::nullopt : g_answers.takeFirst();
            Dispatch::onMain([answer, done = std::move(done)] { done(answer); });
            return;
        }
    }
    auto *dialog = new QFileDialog(window, options.title, options.startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (options.mode == Mode::Folder) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
        dialog->setFilter(options.showsHiddenFiles ? (QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot)
                                                   : (QDir::AllDirs | QDir::NoDotAndDotDot));
    } else {
        dialog->setFileMode(options.mode == Mode::SaveFile ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog->setAcceptMode(options.mode == Mode::SaveFile ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        if (!options.nameFilters.isEmpty())
            dialog->setNameFilters(options.nameFilters);
        if (!options.fileName.isEmpty())
            dialog->selectFile(options.fileName);
    }
    dialog->setOption(QFileDialog::ReadOnly,
                      options.mode == Mode::OpenFile
                          || (options.mode == Mode::Folder && !options.canCreateDirectories));
    if (!options.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, options.prompt);
    if (!options.message.isEmpty())
        dialog->setLabelText(QFileDialog::LookIn, options.message);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            done(chosen.constFirst());
        else
            done(std::nullopt);
    });
    dialog->open();
}

void FolderPanel::setTestMode(bool on)
{
    QMutexLocker locker(&g_lock);
    g_testMode = on;
}

void FolderPanel::queueAnswerForTesting(const std::optional<QString> &path)
{
    QMutexLocker locker(&g_lock);
    g_answers.append(path);
}

std::optional<FolderPanel::Options> FolderPanel::lastShownForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_lastShown;
}
