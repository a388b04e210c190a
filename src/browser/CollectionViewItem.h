#pragma once

#include "model/ImageFile.h"

#include <QWidget>

// One photo in the grid: its thumbnail, its name without the last extension,
// and a red frame while it is marked. A double click opens the photo in the
// desktop's default application and leaves the selection alone.
class CollectionViewItem : public QWidget
{
    Q_OBJECT

public:
    static const QString cIdentifier; // "CollectionViewItem"
    static constexpr qreal cHighlightWidth = 5.0;

    explicit CollectionViewItem(QWidget *parent = nullptr);

    const ImageFilePtr &imageFile() const { return m_imageFile; }
    void setImageFile(const ImageFilePtr &file);
    void setHighlight(bool selected);
    bool isSelected() const { return m_selected; }
    qreal borderWidth() const { return m_selected ? cHighlightWidth : 0.0; }

    // The code read from the photo, shown over the foot of its thumbnail; empty for none.
    void setBadge(const QString &code);
    const QString &badge() const { return m_badge; }

    // What the item shows (its image view and text field).
    QString displayedName() const { return m_name; }
    const QImage &displayedImage() const { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    ImageFilePtr m_imageFile;
    QImage m_image;
    QString m_name;
    QString m_badge;
    bool m_selected = false;
};
