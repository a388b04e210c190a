#pragma once

#include "roster/CameraCardSheet.h"
#include "roster/Roster.h"

#include <QPageSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// The questions picture day asks, each window-modal over the window. Tests queue the next
// answer (nothing for Cancel); then nothing is shown.
class RosterQuestions
{
public:
    struct IdColumn
    {
        int column = 0;
        Roster::Header header = Roster::Header::FirstRow;
    };
    // Which column holds the barcode ids, when the roster's header names none. columns: the
    // first row as written, which may be a header or already a subject.
    static void askIdColumn(QWidget *window, const QString &fileName, const QStringList &columns,
                            std::function<void(const std::optional<IdColumn> &)> done);

    // The code and the paper of the camera cards to print.
    static void askCardOptions(QWidget *window, qsizetype cards,
                               std::function<void(const std::optional<CameraCardSheet::Options> &)> done);

    static void setTestMode(bool on);
    static void queueIdColumnForTesting(const std::optional<IdColumn> &answer);
    static void queueCardOptionsForTesting(const std::optional<CameraCardSheet::Options> &answer);
};
