#include "CollectionViewItem.h"

#include "support/DesktopOpener.h"
#include "support/NativePath.h"
#include "support/PathUtils.h"
#include "support/SystemLog.h"

#include <QMouseEvent>
#include <QPainter>

using namespace Qt::StringLiterals;

const QString CollectionViewItem::cIdentifier = u"CollectionViewItem"_s;

namespace {
constexpr int cNameHeight = 22;
constexpr int cPadding = 8;
} // namespace

CollectionViewItem::CollectionViewItem(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CollectionViewItem::setImageFile(const ImageFilePtr &file)
{
    m_imageFile = file;
    if (file) {
        m_image = file->thumbnail();
        m_name = NativePath::forDisplay(PathUtils::baseName(file->fileName()));
    } else {
        m_image = QImage();
        m_name.clear();
    }
    setToolTip(file ? NativePath::forDisplay(file->fileName()) : QString());
    update();
}

void CollectionViewItem::setBadge(const QString &code)
{
    if (m_badge == code)
        return;
    m_badge = code;
    update();
}

void CollectionViewItem::setHighlight(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void CollectionViewItem::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = rect();
    const QRect imageArea = area.adjusted(cPadding, cPadding, -cPadding, -cPadding - cNameHeight);
    if (!m_image.isNull() && imageArea.width() > 0 && imageArea.height() > 0) {
        const QSize fitted = m_image.size().scaled(imageArea.size(), Qt::KeepAspectRatio);
        const QRect target(imageArea.x() + (imageArea.width() - fitted.width()) / 2,
                           imageArea.y() + (imageArea.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        painter.drawImage(target, m_image);
    }
    if (!m_badge.isEmpty() && imageArea.width() > 0) {
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter.setFont(small);
        const QFontMetrics metrics(small);
        const QString text = metrics.elidedText(m_badge, Qt::ElideRight, imageArea.width() - 8);
        const int width = metrics.horizontalAdvance(text) + 8;
        const QRect badgeArea(imageArea.x() + (imageArea.width() - width) / 2,
                              imageArea.bottom() - metrics.height() - 2, width, metrics.height() + 2);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 170));
        painter.drawRoundedRect(badgeArea, 3, 3);
        painter.setPen(QColor(255, 220, 90));
        painter.drawText(badgeArea, Qt::AlignCenter, text);
        painter.setFont(font());
    }
    const QRect nameArea(area.x() + 2, area.bottom() - cPadding - cNameHeight, area.width() - 4, cNameHeight);
    painter.setPen(Qt::white);
    painter.drawText(nameArea, Qt::AlignHCenter | Qt::AlignVCenter,
                     fontMetrics().elidedText(m_name, Qt::ElideMiddle, nameArea.width()));
    if (m_selected) {
        QPen pen(Qt::red);
        pen.setWidthF(cHighlightWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal inset = cHighlightWidth / 2;
        painter.drawRect(QRectF(area).adjusted(inset, inset, -inset, -inset));
    }
}

void CollectionViewItem::mousePressEvent(QMouseEvent *event)
{
    // Selection belongs to the grid: let the press travel on to it.
    event->ignore();
}

void CollectionViewItem::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_imageFile) {
        event->ignore();
        return;
    }
    const QString path = m_imageFile->fileurl().toLocalFile();
    logLine(u"CollectionViewItem -> mouseDown.... opening "_s + path);
    DesktopOpener::openFile(path);
    event->accept();
}
