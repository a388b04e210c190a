#include "SystemSound.h"

#include "Dispatch.h"
#include "SystemLog.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMediaDevices>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSaveFile>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {
constexpr int cSampleRate = 44100;

QMutex g_lock;
bool g_testMode = false;
QList<SystemSound::Sound> g_played;

struct Partial
{
    double frequency;
    double amplitude;
};

struct Voice
{
    double seconds;
    double attack; // seconds to full level
    double decay; // time constant of the exponential fall, 0 = held
    double tremolo; // Hz of the amplitude wobble, 0 = none
    QList<Partial> partials;
};

Voice voiceOf(SystemSound::Sound sound)
{
    switch (sound) {
    case SystemSound::Glass:
        return {0.45, 0.003, 0.11, 0, {{1568, 0.6}, {2352, 0.25}, {3136, 0.15}}};
    case SystemSound::Purr:
        return {0.35, 0.02, 0.15, 28, {{220, 0.55}, {330, 0.3}, {440, 0.15}}};
    case SystemSound::Beep:
        break;
    }
    return {0.18, 0.005, 0, 0, {{880, 0.7}, {1760, 0.15}}};
}

// 16-bit mono PCM in a RIFF/WAVE container, the format every backend reads.
QByteArray synthesise(const Voice &voice)
{
    const int frames = int(voice.seconds * cSampleRate);
    const int dataBytes = frames * 2;
    QByteArray wav(44 + dataBytes, Qt::Uninitialized);
    char *p = wav.data();
    const auto put32 = [&p](quint32 v) {
        qToLittleEndian(v, p);
        p += 4;
    };
    const auto put16 = [&p](quint16 v) {
        qToLittleEndian(v, p);
        p += 2;
    };
    const auto tag = [&p](const char *four) {
        std::memcpy(p, four, 4);
        p += 4;
    };
    tag("RIFF");
    put32(quint32(36 + dataBytes));
    tag("WAVE");
    tag("fmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(cSampleRate);
    put32(cSampleRate * 2);
    put16(2);
    put16(16);
    tag("data");
    put32(quint32(dataBytes));

    // A short fade at the end as well, so no sound ends in a click.
    const double release = 0.01;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / cSampleRate;
        double level = std::min(1.0, t / voice.attack) * std::min(1.0, (voice.seconds - t) / release);
        if (voice.decay > 0)
            level *= std::exp(-t / voice.decay);
        if (voice.tremolo > 0)
            level *= 0.6 + 0.4 * std::sin(2 * std::numbers::pi * voice.tremolo * t);
        double sample = 0;
        for (const Partial &partial : voice.partials)
            sample += partial.amplitude * std::sin(2 * std::numbers::pi * partial.frequency * t);
        const auto value = qint16(std::clamp(sample * level, -1.0, 1.0) * 0.8 * 32767);
        put16(quint16(value));
    }
    return wav;
}

// Writes the file unless an intact one is there already.
bool ensureFile(SystemSound::Sound sound)
{
    const QString path = SystemSound::filePath(sound);
    const QByteArray wav = synthesise(voiceOf(sound));
    if (QFileInfo(path).size() == wav.size())
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(wav) != wav.size() || !file.commit()) {
        logLine(u"SystemSound -> cannot write "_s + path + u": "_s + file.errorString());
        return false;
    }
    return true;
}

// Main thread only. Effects are kept so a sound played often is decoded once.
void playOnMain(SystemSound::Sound sound)
{
    static QHash<int, QPointer<QSoundEffect>> effects;
    static bool reportedSilence = false;
    if (QMediaDevices::audioOutputs().isEmpty()) {
        if (!reportedSilence)
            logLine(u"SystemSound -> no audio output: sounds are silent"_s);
        reportedSilence = true;
        return;
    }
    QPointer<QSoundEffect> &effect = effects[sound];
    if (!effect) {
        if (!ensureFile(sound))
            return;
        effect = new QSoundEffect(QMediaDevices::defaultAudioOutput(), QCoreApplication::instance());
        effect->setSource(QUrl::fromLocalFile(SystemSound::filePath(sound)));
        effect->setVolume(0.8f);
    }
    if (effect->status() == QSoundEffect::Error)
        return;
    effect->play();
}
} // namespace

void SystemSound::play(Sound sound)
{
    {
        QMutexLocker locker(&g_lock);
        if (g_testMode) {
            g_played.append(sound);
            return;
        }
    }
    if (!QCoreApplication::instance())
        return;
    if (Dispatch::isMainThread())
        playOnMain(sound);
    else
        Dispatch::onMain([sound] { playOnMain(sound); });
}

bool SystemSound::exists(const QString &soundName)
{
    return soundName == name(Glass) || soundName == name(Purr) || soundName == name(Beep);
}

QString SystemSound::name(Sound sound)
{
    switch (sound) {
    case Glass:
        return u"Glass"_s;
    case Purr:
        return u"Purr"_s;
    case Beep:
        break;
    }
    return u"Beep"_s;
}

QString SystemSound::filePath(Sound sound)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u"/Lumisort/sounds/"_s
        + name(sound).toLower() + u".wav"_s;
}

void SystemSound::setTestMode(bool on)
{
    QMutexLocker locker(&g_lock);
    g_testMode = on;
}

QList<SystemSound::Sound> SystemSound::playedForTesting()
{
    QMutexLocker locker(&g_lock);
    return g_played;
}

void SystemSound::resetForTesting()
{
    QMutexLocker locker(&g_lock);
    g_played.clear();
}
