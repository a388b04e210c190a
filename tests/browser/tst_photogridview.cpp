#include "TestMain.h"
#include "browser/HeaderView.h"
#include "browser/PhotoGridView.h"
#include "browser/SectionedGridLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRubberBand>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// "0:1 2:3": section and item of each.
QSet<IndexPath> pathsFrom(QStringView text)
{
    QSet<IndexPath> paths;
    for (const QStringView part : text.split(u' ', Qt::SkipEmptyParts)) {
        const QList<QStringView> at = part.split(u':');
        paths.insert({at.at(0).toLongLong(), at.at(1).toLongLong()});
    }
    return paths;
}

// Sections of photos in a standard model, each photo named by its place.
struct Fixture
{
    QStandardItemModel model;
    PhotoGridView view;

    // Six 110-wide items per row at 800 wide, with or without a scroll bar.
    explicit Fixture(const QList<int> &counts)
    {
        fill(counts);
        view.setItemSize({110, 80});
        view.setHeaderHeight(40);
        view.setModel(&model);
        view.resize(800, 600);
        view.show();
    }
    void fill(const QList<int> &counts)
    {
        model.clear();
        for (qsizetype s = 0; s < counts.size(); ++s) {
            auto *section = new QStandardItem(u"section %1"_s.arg(s));
            for (int i = 0; i < counts.at(s); ++i)
                section->appendRow(new QStandardItem(u"%1:%2"_s.arg(s).arg(i)));
            model.appendRow(section);
        }
    }
};

// Header widgets exist exactly for the sections whose band is in view, each where it is drawn.
void verifyHeaders(const PhotoGridView &view)
{
    const QRectF inView(view.contentOffset(), QSizeF(view.viewport()->size()));
    for (qsizetype s = 0; s < view.numberOfSections(); ++s) {
        const QRectF header = view.gridLayout().pinnedFrameForHeader(s, inView.top());
        QCOMPARE(view.headerForSection(s) != nullptr, header.intersects(inView));
        if (const QWidget *widget = view.headerForSection(s))
            QCOMPARE(widget->geometry(), header.translated(-inView.topLeft()).toRect());
    }
}

} // namespace

static char *toString(const IndexPath &path)
{
    return qstrdup(qPrintable(u"%1:%2"_s.arg(path.section).arg(path.item)));
}

class TestPhotoGridView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutGeometry_data()
    {
        // Items are 100 x 80 unless said otherwise; insets 20/30, spacing 10.
        QTest::addColumn<qreal>("width");
        QTest::addColumn<QList<qsizetype>>("counts");
        QTest::addColumn<QSizeF>("itemSize");
        QTest::addColumn<qreal>("headerHeight");
        QTest::addColumn<qsizetype>("tallItem"); // of section 0, made 120 high
        QTest::addColumn<IndexPath>("probe");
        QTest::addColumn<QRectF>("frame");
        QTest::addColumn<qreal>("headerTop"); // of the probe's section
        QTest::addColumn<qreal>("contentHeight");
        const auto row = [](const char *name, qreal width, QList<qsizetype> counts, IndexPath probe, QRectF frame,
                            qreal headerTop, qreal contentHeight, QSizeF itemSize = {100, 80}, qreal header = 40,
                            qsizetype tall = -1) {
            QTest::newRow(name) << width << counts << itemSize << header << tall << probe << frame << headerTop
                                << contentHeight;
        };
        row("one row", 800, {3}, {0, 2}, {240, 70, 100, 80}, 0, 180);
        // Three columns fit in 400: the 40 spare pixels are shared by both sides.
        row("wraps into rows, centred", 400, {7}, {0, 4}, {150, 160, 100, 80}, 0, 360);
        row("exact fit stays on the row", 360, {3}, {0, 2}, {240, 70, 100, 80}, 0, 180);
        row("sections stack", 800, {3, 2}, {1, 1}, {130, 250, 100, 80}, 180, 360);
        row("empty section keeps header and insets", 800, {2, 0, 1}, {2, 0}, {20, 350, 100, 80}, 280, 460);
        row("item wider than the view", 100, {2}, {0, 1}, {20, 130, 300, 50}, 0, 210, {300, 50});
        row("tallest item sets the row height", 400, {4}, {0, 3}, {40, 200, 100, 80}, 0, 310, {100, 80}, 40, 1);
        row("no header", 800, {1}, {0, 0}, {20, 30, 100, 80}, 0, 140, {100, 80}, 0);
    }
    void layoutGeometry()
    {
        QFETCH(qreal, width);
        QFETCH(QList<qsizetype>, counts);
        QFETCH(QSizeF, itemSize);
        QFETCH(qreal, headerHeight);
        QFETCH(qsizetype, tallItem);
        QFETCH(IndexPath, probe);
        SectionedGridLayout layout;
        layout.prepare(
            width, counts.size(), [&](qsizetype s) { return counts.at(s); },
            [&](const IndexPath &p) {
                return p == IndexPath {0, tallItem} ? QSizeF(itemSize.width(), 120) : itemSize;
            },
            [&](qsizetype) { return headerHeight; });
        QTEST(layout.frameForItem(probe), "frame");
        QTEST(layout.frameForHeader(probe.section).top(), "headerTop");
        QTEST(layout.contentSize().height(), "contentHeight");
        QCOMPARE(layout.itemAt(layout.frameForItem(probe).center()), std::optional<IndexPath>(probe));
    }
    void layoutLookupsAgreeWithAScan()
    {
        // Irregular sizes and empty sections, so every branch of the searches is taken.
        QRandomGenerator random(7);
        QList<qsizetype> counts;
        QHash<IndexPath, QSizeF> sizes;
        for (qsizetype s = 0; s < 60; ++s) {
            counts.append(s % 7 == 3 ? 0 : random.bounded(1, 150));
            for (qsizetype i = 0; i < counts.last(); ++i)
                sizes.insert({s, i}, QSizeF(random.bounded(40, 300), random.bounded(30, 200)));
        }
        SectionedGridLayout layout;
        layout.prepare(
            900, counts.size(), [&](qsizetype s) { return counts.at(s); }, [&](const IndexPath &p) { return sizes[p]; },
            [](qsizetype s) { return qreal(s % 3 * 25); });
        const qreal height = layout.contentSize().height();
        for (int n = 0; n < 300; ++n) {
            const QRectF rect(random.bounded(900.0), random.bounded(height), random.bounded(600.0),
                              random.bounded(900.0));
            QList<IndexPath> items;
            QList<qsizetype> headers;
            for (qsizetype s = 0; s < counts.size(); ++s) {
                if (layout.frameForHeader(s).intersects(rect))
                    headers.append(s);
                for (qsizetype i = 0; i < counts.at(s); ++i) {
                    if (layout.frameForItem({s, i}).intersects(rect))
                        items.append({s, i});
                }
            }
            QCOMPARE(layout.itemsInRect(rect), items);
            QCOMPARE(layout.headersInRect(rect), headers);
            const QPointF point = rect.topLeft();
            const auto hit = std::find_if(items.cbegin(), items.cend(),
                                          [&](const IndexPath &p) { return layout.frameForItem(p).contains(point); });
            QCOMPARE(layout.itemAt(point), hit == items.cend() ? std::nullopt : std::optional<IndexPath>(*hit));
        }

        // A folder of 5,000 photos is laid out in under 10 ms.
        QElapsedTimer timer;
        timer.start();
        for (int run = 0; run < 20; ++run) {
            layout.prepare(
                800, 50, [](qsizetype) { return qsizetype(100); }, [](const IndexPath &) { return QSizeF(250, 250); },
                [](qsizetype) { return qreal(40); });
        }
        QVERIFY2(timer.elapsed() < 20 * 10, qPrintable(u"%1 ms for 20 layouts"_s.arg(timer.elapsed())));
    }
    void headersFollowScrollingAndReflow()
    {
        Fixture f(QList<int>(50, 100));
        QSignalSpy visibleChanged(&f.view, &PhotoGridView::visibleItemsChanged);
        QScrollBar *bar = f.view.verticalScrollBar();
        QVERIFY(bar->maximum() > 50'000);
        for (int y = 0; y <= bar->maximum() + 250; y += 250) {
            f.view.setContentOffset(QPointF(0, y));
            verifyHeaders(f.view);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(u"at offset %1"_s.arg(y)));
        }
        QCOMPARE(f.view.contentOffset().y(), qreal(bar->maximum()));
        QVERIFY(f.view.viewport()->findChildren<HeaderView *>().size() < 10);
        QVERIFY(visibleChanged.count() > 100);

        // A narrower view reflows, keeping the item at the top of the view where it was.
        f.view.setContentOffset(QPointF(0, 20'000));
        const auto topOf = [&](const IndexPath &path) {
            return f.view.frameForItem(path).top() - f.view.contentOffset().y();
        };
        const IndexPath top = f.view.indexPathsForVisibleItems().first();
        const qreal shift = topOf(top);
        f.view.resize(500, 600);
        QVERIFY(qAbs(topOf(top) - shift) <= 0.5);
        verifyHeaders(f.view);

        // Another listing is laid out as its rows come, every header in place.
        f.fill({10, 10});
        QCOMPARE(f.view.numberOfItemsInSection(1), 10);
        verifyHeaders(f.view);

        // A long section's header, with its button, must not scroll away while its photos are in view.
        f.fill({60, 60, 60});
        const SectionedGridLayout::Section &second = f.view.gridLayout().sections().at(1);
        const auto headerTop = [&](qsizetype s) {
            QWidget *header = f.view.headerForSection(s);
            return header && header->isVisible() ? std::optional<int>(header->geometry().top()) : std::nullopt;
        };

        // Deep inside the second section: its header sits at the top edge, over the photos.
        f.view.setContentOffset(QPointF(0, second.top + 500));
        QCOMPARE(headerTop(1), std::optional<int>(0));
        QVERIFY(!f.view.headerForSection(0));
        QWidget *pinned = f.view.headerForSection(1);
        const QWidget *under = f.view.viewport()->childAt(pinned->geometry().center());
        QVERIFY(under == pinned || pinned->isAncestorOf(under));
        // Opaque: nothing under it shows through, whatever colour the grid is.
        f.view.setBackgroundColor(Qt::red);
        const QImage overRed = f.view.viewport()->grab(pinned->geometry()).toImage();
        f.view.setBackgroundColor(Qt::blue);
        QCOMPARE(f.view.viewport()->grab(pinned->geometry()).toImage(), overRed);

        // At the section's end the next header pushes it up instead of covering it.
        f.view.setContentOffset(QPointF(0, second.bottom - 20));
        QCOMPARE(headerTop(1), std::optional<int>(-20)); // its bottom meets the end of the section
        QCOMPARE(headerTop(2), std::optional<int>(20));

        // Back at the top nothing is pinned: every header at its own place.
        f.view.setContentOffset(QPointF(0, 0));
        QCOMPARE(headerTop(0), std::optional<int>(0));
        verifyHeaders(f.view);
    }
    void selection_data()
    {
        // "^" is Ctrl, "+" is Shift; "empty" is the left margin at (5, 110), "h1" the header of section 1,
        // "band>x,y" a drag from that margin, "<keys>" key presses. Rows hold 0-5, then 6-7.
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("selection");
        QTest::newRow("click") << u"0:1"_s << u"0:1"_s;
        QTest::newRow("click replaces") << u"0:1 0:3"_s << u"0:3"_s;
        QTest::newRow("ctrl toggles") << u"0:1 ^0:3 ^0:1"_s << u"0:3"_s;
        QTest::newRow("shift range across sections") << u"0:6 +1:1"_s << u"0:6 0:7 1:0 1:1"_s;
        QTest::newRow("shift backwards") << u"1:1 +0:6"_s << u"0:6 0:7 1:0 1:1"_s;
        QTest::newRow("shift keeps the anchor") << u"0:6 +1:1 +0:5"_s << u"0:5 0:6"_s;
        QTest::newRow("ctrl shift adds a range") << u"0:0 ^1:6 ^+1:7"_s << u"0:0 1:6 1:7"_s;
        QTest::newRow("ctrl click moves the anchor") << u"0:0 ^0:3 +0:4"_s << u"0:3 0:4"_s;
        QTest::newRow("click in a selection keeps only it") << u"0:1 ^0:2 ^0:3 0:2"_s << u"0:2"_s;
        QTest::newRow("empty space clears") << u"0:1 ^0:2 empty"_s << QString();
        QTest::newRow("ctrl on empty space keeps") << u"0:1 ^empty"_s << u"0:1"_s;
        QTest::newRow("header is empty space") << u"0:1 h1"_s << QString();
        QTest::newRow("band selects what it meets") << u"1:7 band>315,380"_s << u"0:0 0:1 0:2 0:6 0:7 1:0 1:1 1:2"_s;
        QTest::newRow("ctrl band adds") << u"1:7 ^band>315,130"_s << u"0:0 0:1 0:2 1:7"_s;
        QTest::newRow("right") << u"0:1 <Right>"_s << u"0:2"_s;
        QTest::newRow("right crosses sections") << u"0:7 <Right>"_s << u"1:0"_s;
        QTest::newRow("left at the start stays") << u"0:0 <Left>"_s << u"0:0"_s;
        QTest::newRow("down to the nearest in x") << u"0:1 <Down>"_s << u"0:7"_s;
        QTest::newRow("down into the next section") << u"0:7 <Down>"_s << u"1:1"_s;
        QTest::newRow("up into the last row above") << u"1:2 <Up>"_s << u"0:7"_s;
        QTest::newRow("up at the top stays") << u"0:2 <Up>"_s << u"0:2"_s;
        QTest::newRow("shift extends across sections")
            << u"0:6 <Shift+Right> <Shift+Right> <Shift+Right>"_s << u"0:6 0:7 1:0 1:1"_s;
        QTest::newRow("shift back past the anchor") << u"0:2 <Shift+Right> <Shift+Left> <Shift+Left>"_s << u"0:1 0:2"_s;
        QTest::newRow("shift down") << u"0:4 <Shift+Down>"_s << u"0:4 0:5 0:6 0:7"_s;
        QTest::newRow("end scrolls to the last") << u"0:0 <End>"_s << u"2:7"_s;
        QTest::newRow("home") << u"1:3 <End> <Home>"_s << u"0:0"_s;
        QTest::newRow("select all") << u"1:3 <Ctrl+A> ^1:3"_s
                                    << u"0:0 0:1 0:2 0:3 0:4 0:5 0:6 0:7 1:0 1:1 1:2 1:4 1:5 1:6 1:7 "
                                       u"2:0 2:1 2:2 2:3 2:4 2:5 2:6 2:7"_s;
    }
    void selection()
    {
        QFETCH(QString, actions);
        QFETCH(QString, selection);
        Fixture f({8, 8, 8});
        PhotoGridView &view = f.view;
        const QPoint margin(5, 110);
        for (QStringView action : QStringView(actions).split(u' ')) {
            Qt::KeyboardModifiers modifiers;
            for (; action.startsWith(u'^') || action.startsWith(u'+'); action = action.mid(1))
                modifiers |= action.startsWith(u'^') ? Qt::ControlModifier : Qt::ShiftModifier;
            if (action.startsWith(u"band>")) {
                const QList<QStringView> xy = action.mid(5).split(u',');
                const QPoint to(xy.at(0).toInt(), xy.at(1).toInt());
                QTest::mousePress(view.viewport(), Qt::LeftButton, modifiers, margin);
                QTest::mouseMove(view.viewport(), (margin + to) / 2);
                QTest::mouseMove(view.viewport(), to);
                auto *band = view.viewport()->findChild<QRubberBand *>();
                QVERIFY(band && band->isVisible());
                QCOMPARE(band->geometry(), QRectF(QPointF(margin), QPointF(to)).toRect());
                QTest::mouseRelease(view.viewport(), Qt::LeftButton, modifiers, to);
                QVERIFY(!band->isVisible());
            } else if (action.startsWith(u'<')) {
                QTest::keySequence(&view, QKeySequence(action.mid(1).chopped(1).toString()));
                // The cursor is scrolled into view, clear of the header pinned at the top.
                if (view.selectionIndexPaths().size() == 1) {
                    const QRectF frame = view.frameForItem(*view.selectionIndexPaths().cbegin());
                    QVERIFY(QRectF(view.contentOffset(), view.viewport()->size()).contains(frame));
                    for (qsizetype s = 0; s < view.numberOfSections(); ++s) {
                        const QWidget *header = view.headerForSection(s);
                        QVERIFY(!header
                                || !header->geometry().intersects(frame.translated(-view.contentOffset()).toRect()));
                    }
                }
            } else if (action.startsWith(u'h')) {
                // Presses on a header band that its buttons do not take reach the grid.
                QWidget *header = view.headerForSection(action.mid(1).toLongLong());
                QTest::mouseClick(header, Qt::LeftButton, modifiers, QPoint(header->width() / 2, 5));
            } else {
                const QPoint at = action == u"empty"
                    ? margin
                    : view.visualRect(view.modelIndex(*pathsFrom(action).cbegin())).center();
                QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, at);
            }
        }
        QCOMPARE(view.selectionIndexPaths(), pathsFrom(selection));
    }
};

LUMISORT_GUI_TEST_MAIN(TestPhotoGridView)
#include "tst_photogridview.moc"
