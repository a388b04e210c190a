#pragma once

#include <QByteArray>

// The hidden names this program gives its temporary copies and claims:
// ".lumisort-<host>-<pid>-<random><suffix>". The host keeps a shared destination's
// files of other stations (whose process ids mean nothing here) apart from this
// one's; the process id tells whether the file's maker is gone.
class OwnHiddenName
{
public:
    static QByteArray prefix();
    // A fresh name of this process with the given suffix.
    static QByteArray make(const QByteArray &suffix);
    // Made by a process of this machine that is gone.
    static bool isLeftByGoneProcess(const QByteArray &name, const QByteArray &suffix);
};
