#pragma once

#include "support/NativePath.h"

#include <QHash>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <memory>

class QTimer;

// The photo of the reassignment sheet, upright. The operator reads the barcode
// card on it, so it must be sharp: the small preview appears at once, and a
// decode at the size of the view, made on a worker thread, replaces it. Work
// for a photo that is no longer shown is skipped or dropped.
class ReassignImageView : public QWidget
{
    Q_OBJECT

public:
    explicit ReassignImageView(QWidget *parent = nullptr);

    // The path as text that converts back to its bytes (NativePath); empty shows nothing.
    void setPath(const QString &path);
    const QString &path() const { return m_path; }
    const QImage &image() const { return m_image; }
    // True while only the small preview is shown.
    bool isPreview() const { return m_preview; }
    // The photos likely to be shown next, decoded ahead at the view's size so that
    // moving to one shows it at once; what was decoded for other photos is let go.
    void preload(const QStringList &paths);
    bool isPreloaded(const QString &path) const;
    QSize sizeHint() const override { return {640, 480}; }

    struct Decoded
    {
        QImage image; // upright, within the box; null when unreadable
        QSize photoSize; // the whole photo, upright, in pixels; empty when unknown
    };
    // The photo decoded to fit box (pixels); a full-size image exists only for formats that cannot decode smaller.
    static Decoded decodeFitted(const NativePath &path, const QSize &box);
    // The small preview the browser shows (embedded thumbnail where there is one).
    static Decoded preview(const NativePath &path);

Q_SIGNALS:
    // An image arrived for the photo shown: first the preview, then the fitted decode.
    void imageShown(const QString &path, bool preview);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QSize pixelBox() const;
    void startDecode(bool previewFirst);
    void takeImage(quint64 generation, const Decoded &decoded, bool preview);
    void startPreloads();

    QString m_path;
    QImage m_image;
    QSize m_photoSize;
    bool m_preview = false;
    bool m_shownOnce = false; // laid out: its size is the one to decode for
    QSize m_requestedFor; // the box of the latest decode asked for
    // Shared with the workers, so that a job for a photo no longer shown stops before its decode.
    std::shared_ptr<std::atomic<quint64>> m_generation = std::make_shared<std::atomic<quint64>>(0);
    QTimer *m_redecodeTimer = nullptr;
    QStringList m_preloadPaths;
    QHash<QString, Decoded> m_preloaded; // by path, decoded for m_preloadedFor
    QSize m_preloadedFor;
};
