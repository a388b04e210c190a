#pragma once

#include <QString>
#include <functional>

class QDialog;
class QWidget;

// The sheets the browser presents, by segue identifier ("dummyButtonSegue1" the
// reassignment sheet, "dummyButtonSegue2" the preferences, "dummyButtonSegue3" the
// card import, "dummyButtonSegue4" the mode prompt, "dummyButtonSegue6" the filing
// run). Each subsystem registers its own; an identifier nobody registered gets a
// sheet that shows what it was sent.
class SheetRegistry
{
public:
    using Factory = std::function<QDialog *(QWidget *window)>;
    static void registerSheet(const QString &segueIdentifier, Factory factory);
    static QDialog *make(const QString &segueIdentifier, QWidget *window);
};
