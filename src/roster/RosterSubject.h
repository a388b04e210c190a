#pragma once

#include <QString>
#include <QStringList>

// One person on picture day, under the id printed on their camera card.
struct RosterSubject
{
    QString id;
    QString firstName;
    QString lastName;
    QString displayName; // first and last name, or the file's single name column
    QString className; // grade, class, homeroom or group: how the day is organised
    QString teacher;
    QStringList others; // every other column, in the order of Roster::otherColumns()
    int line = 0; // of the roster file, for the operator who corrects it
};
