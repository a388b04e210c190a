#pragma once

#include <QDialog>

class QPlainTextEdit;

// Stands in for a sheet whose workflow is not part of this build: it shows the
// notifications it was sent, so the hand-over can be seen and tested.
class PlaceholderSheet : public QDialog
{
    Q_OBJECT

public:
    PlaceholderSheet(const QString &segueIdentifier, QWidget *parent);
    ~PlaceholderSheet() override;
    QString receivedText() const;

private:
    QPlainTextEdit *m_text = nullptr;
};
