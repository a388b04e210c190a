#pragma once

#include <QList>
#include <QString>

// The program's own short sounds (confirmation, soft confirmation, warning),
// synthesised once into the cache folder and played without blocking. Where the
// machine has no audio output the sounds are silent. Any thread may play.
class SystemSound
{
public:
    enum Sound
    {
        Glass, // an entry was taken
        Purr, // the same, softer
        Beep // something needs the operator's attention
    };

    static void play(Sound sound);
    // True for the names of the sounds above ("Glass", "Purr", "Beep").
    static bool exists(const QString &name);
    static QString name(Sound sound);
    // Where the sound's WAV file lives ("<cache>/Lumisort/sounds/glass.wav" ...).
    static QString filePath(Sound sound);

    // Test seam: sounds are recorded in the order played, none is heard.
    static void setTestMode(bool on);
    static QList<Sound> playedForTesting();
    static void resetForTesting();
};
