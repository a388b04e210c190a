#define ZX_USE_UTF8 1

#include "CameraCardSheet.h"

#include "Roster.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr double cMm = 72.0 / 25.4;
// About a business card: ten to a sheet of A4 or Letter, two across and five down.
constexpr QSizeF cCard(252, 132);
constexpr double cGutter = 14;
constexpr double cMargin = 10 * cMm;
constexpr double cFooter = 14 * cMm; // the bottom margin, with the footer in it
constexpr double cPadding = 8;
// A cutter rarely hits the line: the quiet zone keeps clear of the card's very edge.
constexpr double cCutTolerance = 4;
// Modules smaller than these do not survive an office printer and a photo taken at arm's length;
// larger ones than the maximum only cost room.
constexpr double cMinModule1D = 0.33 * cMm;
constexpr double cMaxModule1D = 0.6 * cMm;
constexpr double cMinModule2D = 0.5 * cMm;
constexpr double cMaxModule2D = 2.0 * cMm;
constexpr int cQuiet1D = 10;
constexpr int cQuiet2D = 3;
// The device resolution of the PDF: its coordinates are integers for Qt's text layout.
constexpr int cDpi = 1200;
constexpr double cScale = cDpi / 72.0;

QString formatName(CameraCardSheet::Format format)
{
    switch (format) {
    case CameraCardSheet::Format::Code128:
        return u"Code 128"_s;
    case CameraCardSheet::Format::DataMatrix:
        return u"Data Matrix"_s;
    case CameraCardSheet::Format::QrCode:
        return u"QR code"_s;
    }
    return {};
}

std::optional<ZXing::BitMatrix> encode(const QString &id, CameraCardSheet::Format format)
{
    using F = ZXing::BarcodeFormat;
    const F zxFormat = format == CameraCardSheet::Format::Code128 ? F::Code128
        : format == CameraCardSheet::Format::DataMatrix           ? F::DataMatrix
                                                                  : F::QRCode;
    try {
        return ZXing::MultiFormatWriter(zxFormat)
            .setMargin(0)
            .setEncoding(ZXing::CharacterSet::UTF8)
            .encode(id.toStdString(), 0, 0);
    } catch (const std::exception &) { // a character the format cannot hold, or too long for it
        return std::nullopt;
    }
}

// A card's parts, in points relative to the card's top left corner.
struct CardPlan
{
    ZXing::BitMatrix modules;
    double module = 0;
    QRectF code; // the modules only, without the quiet zone
    QRectF id;
    QRectF text; // name, class and teacher
};

std::optional<CardPlan> planCard(const QString &id, CameraCardSheet::Format format)
{
    std::optional<ZXing::BitMatrix> modules = encode(id, format);
    if (!modules || modules->width() == 0)
        return std::nullopt;
    CardPlan plan;
    const QRectF inner = QRectF(QPointF(), cCard).adjusted(cPadding, cPadding, -cPadding, -cPadding);
    constexpr double idHeight = 11;
    if (format == CameraCardSheet::Format::Code128) {
        // Name and class above, the bars across the card with the id under them.
        const double span = cCard.width() - 2 * cCutTolerance;
        plan.module = std::min(cMaxModule1D, span / (modules->width() + 2 * cQuiet1D));
        if (plan.module < cMinModule1D)
            return std::nullopt;
        plan.text = QRectF(inner.topLeft(), QSizeF(inner.width(), 34));
        const double top = plan.text.bottom() + 6, bottom = inner.bottom() - idHeight;
        const double width = plan.module * modules->width();
        plan.code = QRectF((cCard.width() - width) / 2, top, width, bottom - top);
    } else {
        // The square code on the left, its id under it; the name beside it has room to wrap.
        const double side = inner.height() - idHeight;
        plan.module = std::min(cMaxModule2D, side / (modules->width() + 2 * cQuiet2D));
        if (plan.module < cMinModule2D)
            return std::nullopt;
        const double width = plan.module * modules->width(), height = plan.module * modules->height();
        const double quiet = plan.module * cQuiet2D;
        plan.code = QRectF(inner.left() + quiet, inner.top() + (side - height) / 2, width, height);
        const double right = plan.code.right() + quiet;
        plan.text = QRectF(right + 4, inner.top(), inner.right() - right - 4, inner.height());
    }
    plan.modules = std::move(*modules);
    // Under the code, clear of its quiet zone, as wide as the code's column: a long id neither runs into
    // the name nor off the card.
    if (format == CameraCardSheet::Format::Code128) {
        plan.id = QRectF(inner.left(), inner.bottom() - idHeight, inner.width(), idHeight);
    } else {
        const double quiet = plan.module * cQuiet2D, width = plan.code.width() + 2 * quiet + cPadding;
        plan.id = QRectF(plan.code.center().x() - width / 2,
                         std::min(plan.code.bottom() + quiet, inner.bottom() - idHeight), width, idHeight);
    }
    return plan;
}

QRectF device(const QRectF &points)
{
    return {points.x() * cScale, points.y() * cScale, points.width() * cScale, points.height() * cScale};
}

QFont textFont(double points, bool bold = false)
{
    // DejaVu first: it has the accents and letters of every roster we have met (é, ø, ñ, ł, ş ...).
    QFont font(QStringList {u"DejaVu Sans"_s, u"Noto Sans"_s, u"Liberation Sans"_s});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Text in the rectangle (points) at the largest size up to maxPoints that fits, elided at the smallest.
double drawFitted(QPainter &painter, const QRectF &rect, const QString &text, double maxPoints, double minPoints,
                  bool bold, int flags)
{
    const QRectF box = device(rect);
    const bool wrap = flags & Qt::TextWordWrap;
    for (double size = maxPoints;; size -= 0.5) {
        const QFont font = textFont(size, bold);
        const QFontMetricsF metrics(font, painter.device());
        const QRectF needed = metrics.boundingRect(box, flags, text);
        if ((needed.width() <= box.width() && needed.height() <= box.height()) || size - 0.5 < minPoints) {
            painter.setFont(font);
            const bool fits = needed.width() <= box.width() && needed.height() <= box.height();
            painter.drawText(box, flags, fits || wrap ? text : metrics.elidedText(text, Qt::ElideRight, box.width()));
            return needed.height() / cScale;
        }
    }
}

void drawModules(QPainter &painter, const CardPlan &plan, const QPointF &origin, bool linear)
{
    // Runs of dark modules as one rectangle each: the edges fall exactly where the modules meet,
    // and a page holds a few hundred shapes rather than thousands.
    const ZXing::BitMatrix &m = plan.modules;
    const QPointF at = origin + plan.code.topLeft();
    const int rows = linear ? 1 : m.height();
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < m.width();) {
            if (!m.get(x, y)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < m.width() && m.get(x, y))
                ++x;
            const double height = linear ? plan.code.height() : plan.module;
            painter.fillRect(device(QRectF(at.x() + start * plan.module, at.y() + y * plan.module,
                                           (x - start) * plan.module, height)),
                             Qt::black);
        }
    }
}

void drawCard(QPainter &painter, const RosterSubject &subject, const CardPlan &plan, const QRectF &card,
              CameraCardSheet::Format format)
{
    const bool linear = format == CameraCardSheet::Format::Code128;
    drawModules(painter, plan, card.topLeft(), linear);
    painter.setPen(Qt::black);
    drawFitted(painter, plan.id.translated(card.topLeft()), subject.id, 8, 5, false, Qt::AlignHCenter | Qt::AlignTop);

    QString details = subject.className;
    if (!subject.teacher.isEmpty())
        details += (details.isEmpty() ? QString() : u" \u00b7 "_s) + subject.teacher;
    const QString name = subject.displayName.isEmpty() ? subject.id : subject.displayName;
    const QRectF text = plan.text.translated(card.topLeft());
    if (linear) {
        drawFitted(painter, QRectF(text.topLeft(), QSizeF(text.width(), 20)), name, 15, 8, true,
                   Qt::AlignLeft | Qt::AlignVCenter);
        drawFitted(painter, QRectF(text.left(), text.top() + 21, text.width(), 13), details, 9, 6, false,
                   Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        const double used = drawFitted(painter, QRectF(text.topLeft(), QSizeF(text.width(), text.height() * 0.62)),
                                       name, 15, 8, true, flags);
        drawFitted(painter,
                   QRectF(text.left(), text.top() + used + 4, text.width(), text.bottom() - text.top() - used - 4),
                   details, 9, 6, false, flags);
    }
}

void drawCutMarks(QPainter &painter, const QRectF &card)
{
    // Each corner's two edges continued outwards a little, stopping short of the card and of its neighbours.
    constexpr double gap = 2, length = cGutter / 2 - gap - 1;
    for (const QPointF &corner : {card.topLeft(), card.topRight(), card.bottomLeft(), card.bottomRight()}) {
        const double dx = corner.x() < card.center().x() ? -1 : 1, dy = corner.y() < card.center().y() ? -1 : 1;
        painter.drawLine(QPointF(corner.x() + dx * gap, corner.y()) * cScale,
                         QPointF(corner.x() + dx * (gap + length), corner.y()) * cScale);
        painter.drawLine(QPointF(corner.x(), corner.y() + dy * gap) * cScale,
                         QPointF(corner.x(), corner.y() + dy * (gap + length)) * cScale);
    }
}

QString refusalFor(const Roster &roster)
{
    if (roster.status() != Roster::Status::Loaded)
        return roster.error().isEmpty() ? u"The roster was not read: there are no cards to print."_s : roster.error();
    if (roster.subjects().isEmpty())
        return u"The roster holds no subjects (every row was left out): there are no cards to print."_s;
    return {};
}

} // namespace

QPageSize::PageSizeId CameraCardSheet::defaultPaper()
{
    return QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter : QPageSize::A4;
}

QList<QList<QRectF>> CameraCardSheet::layout(qsizetype count, const Options &options)
{
    const QSizeF page = QPageSize(options.paper).size(QPageSize::Point);
    const QSizeF usable(page.width() - 2 * cMargin, page.height() - cMargin - cFooter);
    const int columns = std::max(1, int((usable.width() + cGutter) / (cCard.width() + cGutter)));
    const int rows = std::max(1, int((usable.height() + cGutter) / (cCard.height() + cGutter)));
    const QSizeF grid(columns * cCard.width() + (columns - 1) * cGutter, rows * cCard.height() + (rows - 1) * cGutter);
    const QPointF origin((page.width() - grid.width()) / 2, cMargin + (usable.height() - grid.height()) / 2);
    QList<QList<QRectF>> pages;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype onPage = i % (columns * rows);
        if (onPage == 0)
            pages.append(QList<QRectF>());
        const QPointF at = origin
            + QPointF((onPage % columns) * (cCard.width() + cGutter), (onPage / columns) * (cCard.height() + cGutter));
        pages.last().append(QRectF(at, cCard));
    }
    return pages;
}

QByteArray CameraCardSheet::pdf(const Roster &roster, const Options &options, QString *refusal)
{
    const auto refuse = [refusal](const QString &why) {
        if (refusal)
            *refusal = why;
        return QByteArray();
    };
    if (const QString why = refusalFor(roster); !why.isEmpty())
        return refuse(why);
    const QList<qsizetype> order = roster.byClassThenName();
    // Every card is planned before anything is drawn: a code that cannot be printed refuses the sheet,
    // rather than leaving a subject without a card that reads.
    std::vector<CardPlan> plans; // a module matrix moves only
    plans.reserve(std::size_t(order.size()));
    for (const qsizetype index : order) {
        const RosterSubject &subject = roster.subjects().at(index);
        std::optional<CardPlan> plan = planCard(subject.id, options.format);
        if (!plan)
            return refuse(u"The id \""_s + subject.id + u"\" (line "_s + QString::number(subject.line)
                          + u") cannot be printed as a "_s + formatName(options.format)
                          + u" that reads reliably on a card: it is too long or holds characters the format "
                            u"cannot encode. Another format may take it."_s);
        plans.push_back(std::move(*plan));
    }

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(cDpi);
    writer.setPageSize(QPageSize(options.paper));
    writer.setPageMargins(QMarginsF());
    writer.setTitle(u"Camera cards"_s
                    + (options.rosterName.isEmpty() ? QString() : u" \u2014 "_s + options.rosterName));
    writer.setCreator(u"Lumisort"_s);
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::Antialiasing);
    const QList<QList<QRectF>> pages = layout(order.size(), options);
    const QSizeF page = QPageSize(options.paper).size(QPageSize::Point);
    qsizetype card = 0;
    for (qsizetype p = 0; p < pages.size(); ++p) {
        if (p > 0)
            writer.newPage();
        painter.setPen(QPen(Qt::black, 0.3 * cScale));
        for (const QRectF &rect : pages[p])
            drawCutMarks(painter, rect);
        for (const QRectF &rect : pages[p]) {
            drawCard(painter, roster.subjects().at(order[card]), plans[std::size_t(card)], rect, options.format);
            ++card;
        }
        painter.setPen(Qt::darkGray);
        painter.setFont(textFont(7));
        const QRectF footer = device(QRectF(cMargin, page.height() - cFooter + 10, page.width() - 2 * cMargin, 12));
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetricsF(painter.font(), &writer)
                             .elidedText(options.rosterName, Qt::ElideMiddle, footer.width() * 0.7));
        painter.drawText(footer, Qt::AlignRight | Qt::AlignVCenter, u"Page %1 of %2"_s.arg(p + 1).arg(pages.size()));
    }
    painter.end();
    return bytes;
}

FileResult CameraCardSheet::write(const Roster &roster, const Options &options, const NativePath &out,
                                  SafeFile::Replace replace)
{
    QString refusal;
    const QByteArray bytes = pdf(roster, options, &refusal);
    if (bytes.isEmpty())
        return FileResult::failure(u"make camera cards"_s, out, refusal);
    return SafeFile::writeDurably(out, bytes, replace);
}
