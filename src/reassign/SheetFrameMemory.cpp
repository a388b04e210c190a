#include "SheetFrameMemory.h"

#include "settings/SettingsStore.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

SheetFrameMemory::SheetFrameMemory(QWidget *sheet, const QString &key)
    : QObject(sheet)
    , m_sheet(sheet)
    , m_key(key)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(cFrameSettleMs);
    connect(m_timer, &QTimer::timeout, this, &SheetFrameMemory::store);
}

void SheetFrameMemory::restore()
{
    if (const std::optional<QString> text = SettingsStore::standard().stringForKey(m_key)) {
        if (const std::optional<QRect> frame = parseFrame(*text))
            m_sheet->resize(frame->size());
    }
}

void SheetFrameMemory::store()
{
    SettingsStore::standard().setString(frameText(m_sheet->geometry()), m_key);
}

void SheetFrameMemory::resized()
{
    if (m_sheet->isVisible())
        m_timer->start();
}

void SheetFrameMemory::stop()
{
    m_timer->stop();
}

QString SheetFrameMemory::frameText(const QRect &frame)
{
    return QString::number(frame.x()) + u',' + QString::number(frame.y()) + u',' + QString::number(frame.width()) + u','
        + QString::number(frame.height());
}

std::optional<QRect> SheetFrameMemory::parseFrame(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}
