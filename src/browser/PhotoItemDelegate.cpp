#include "PhotoItemDelegate.h"

#include "model/PhotoListModel.h"

#include <QPainter>

namespace {
constexpr int cNameHeight = 22;
constexpr int cPadding = 8;
} // namespace

void PhotoItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = option.rect;
    const QRect imageArea = area.adjusted(cPadding, cPadding, -cPadding, -cPadding - cNameHeight);
    const QImage image = index.data(Qt::DecorationRole).value<QImage>();
    if (!image.isNull() && imageArea.width() > 0 && imageArea.height() > 0) {
        const QSize fitted = image.size().scaled(imageArea.size(), Qt::KeepAspectRatio);
        const QRect target(imageArea.x() + (imageArea.width() - fitted.width()) / 2,
                           imageArea.y() + (imageArea.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        painter->drawImage(target, image);
    }
    const QString badge = index.data(PhotoListModel::BadgeRole).toString();
    if (!badge.isEmpty() && imageArea.width() > 0) {
        QFont small = option.font;
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter->setFont(small);
        const QFontMetrics metrics(small);
        const QString text = metrics.elidedText(badge, Qt::ElideRight, imageArea.width() - 8);
        const int width = metrics.horizontalAdvance(text) + 8;
        const QRect badgeArea(imageArea.x() + (imageArea.width() - width) / 2,
                              imageArea.bottom() - metrics.height() - 2, width, metrics.height() + 2);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0, 0, 0, 170));
        painter->drawRoundedRect(badgeArea, 3, 3);
        painter->setPen(QColor(255, 220, 90));
        painter->drawText(badgeArea, Qt::AlignCenter, text);
        painter->setFont(option.font);
    }
    const QRect nameArea(area.x() + 2, area.bottom() - cPadding - cNameHeight, area.width() - 4, cNameHeight);
    painter->setPen(Qt::white);
    painter->drawText(nameArea, Qt::AlignHCenter | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, nameArea.width()));
    if (option.state & QStyle::State_Selected) {
        QPen pen(Qt::red);
        pen.setWidthF(cHighlightWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        const qreal inset = cHighlightWidth / 2;
        painter->drawRect(QRectF(area).adjusted(inset, inset, -inset, -inset));
    }
    painter->restore();
}
