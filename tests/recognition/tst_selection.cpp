// The selection over the preview without a widget: hit test, the three drags, the mapping
// to picture pixels.
#include "recognition/uSelection.h"

#include <QtTest>

Q_DECLARE_METATYPE(TRect)

namespace {

const TRect Box{100, 100, 200, 180}; // handle middles at x 150, y 140
constexpr int CW = 300, CH = 200;

TSelection WithSel(const TRect& ARect) {
    TSelection s;
    s.SetSel(ARect);
    return s;
}

// A mouse step of a drag: press, move or release at a point.
struct TStep {
    char Kind; // 'p' press, 'm' move, 'r' release, 'R' right-button press
    int X, Y;
};

void Run(TSelection& ASel, std::initializer_list<TStep> ASteps) {
    for (const TStep& s : ASteps) {
        switch (s.Kind) {
        case 'p':
            ASel.MouseDown(Qt::LeftButton, s.X, s.Y);
            break;
        case 'R':
            ASel.MouseDown(Qt::RightButton, s.X, s.Y);
            break;
        case 'm':
            ASel.MouseMove(s.X, s.Y, CW, CH);
            break;
        case 'r':
            ASel.MouseUp(Qt::LeftButton);
            break;
        }
    }
}

} // namespace

class TestSelection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hitTest_data() {
        QTest::addColumn<TRect>("sel");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("handle");
        QTest::addColumn<int>("cursor");
        QTest::newRow("top-left corner")
            << Box << QPoint(100, 100) << 1 << int(Qt::SizeFDiagCursor);
        QTest::newRow("6 px from a corner still hits")
            << Box << QPoint(94, 106) << 1 << int(Qt::SizeFDiagCursor);
        QTest::newRow("7 px misses") << Box << QPoint(93, 100) << 0 << int(Qt::CrossCursor);
        QTest::newRow("top middle") << Box << QPoint(150, 100) << 2 << int(Qt::SizeVerCursor);
        QTest::newRow("top-right") << Box << QPoint(200, 100) << 3 << int(Qt::SizeBDiagCursor);
        QTest::newRow("right middle") << Box << QPoint(200, 140) << 4 << int(Qt::SizeHorCursor);
        QTest::newRow("bottom-right") << Box << QPoint(200, 180) << 5 << int(Qt::SizeFDiagCursor);
        QTest::newRow("bottom middle") << Box << QPoint(150, 180) << 6 << int(Qt::SizeVerCursor);
        QTest::newRow("bottom-left") << Box << QPoint(100, 180) << 7 << int(Qt::SizeBDiagCursor);
        QTest::newRow("left middle") << Box << QPoint(100, 140) << 8 << int(Qt::SizeHorCursor);
        QTest::newRow("inside") << Box << QPoint(120, 120) << 9 << int(Qt::SizeAllCursor);
        QTest::newRow("on the edge, off the handles")
            << Box << QPoint(120, 100) << 0 << int(Qt::CrossCursor);
        QTest::newRow("outside") << Box << QPoint(250, 50) << 0 << int(Qt::CrossCursor);
        // On a small rectangle the corners win over the edge middles.
        QTest::newRow("small: corner over top middle")
            << TRect{0, 0, 10, 10} << QPoint(5, 0) << 1 << int(Qt::SizeFDiagCursor);
        QTest::newRow("small: top-right over right middle")
            << TRect{0, 0, 10, 10} << QPoint(10, 5) << 3 << int(Qt::SizeBDiagCursor);
        QTest::newRow("small: handles over the inside")
            << TRect{0, 0, 10, 10} << QPoint(5, 5) << 1 << int(Qt::SizeFDiagCursor);
        QTest::newRow("wide: middle handle before the inside")
            << TRect{0, 0, 100, 10} << QPoint(50, 5) << 2 << int(Qt::SizeVerCursor);
    }
    void hitTest() {
        QFETCH(TRect, sel);
        QFETCH(QPoint, at);
        QFETCH(int, handle);
        QFETCH(int, cursor);
        const TSelection s = WithSel(sel);
        QCOMPARE(s.HandleAt(at.x(), at.y()), handle);
        QCOMPARE(int(TSelection::CursorFor(handle)), cursor);
    }

    void noSelectionHitsNothing() {
        TSelection s;
        QCOMPARE(s.HandleAt(0, 0), 0);
        s.SetSel(Box);
        s.Clear();
        QCOMPARE(s.HandleAt(100, 100), 0);
    }

    void drags_data() {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<TRect>("sel");
        QTest::addColumn<bool>("hasSel");
        QTest::newRow("draw up and left, normalised") << 0 << TRect{40, 30, 90, 80} << true;
        QTest::newRow("a 3-pixel drag leaves nothing") << 1 << TRect{10, 10, 13, 60} << false;
        QTest::newRow("4 x 4 survives") << 2 << TRect{10, 10, 14, 14} << true;
        QTest::newRow("drawing stops at the edges, inclusive") << 3 << TRect{0, 10, 10, CH} << true;
        QTest::newRow("move keeps the size and stops at the edge")
            << 4 << TRect{200, 120, 300, 200} << true;
        QTest::newRow("move against the top-left") << 5 << TRect{0, 0, 100, 80} << true;
        QTest::newRow("left handle past the right edge flips")
            << 6 << TRect{200, 100, 250, 180} << true;
        QTest::newRow("after the flip the handle still sets Left")
            << 7 << TRect{220, 100, 250, 180} << true;
        QTest::newRow("corner resize") << 8 << TRect{100, 100, 260, 190} << true;
        QTest::newRow("resized below 4 x 4 is dropped") << 9 << TRect{100, 100, 102, 102} << false;
        QTest::newRow("press outside drops the old one") << 10 << TRect{250, 20, 250, 20} << false;
        QTest::newRow("right button neither starts nor ends")
            << 11 << TRect{10, 10, 60, 60} << true;
    }
    void drags() {
        QFETCH(int, scenario);
        QFETCH(TRect, sel);
        QFETCH(bool, hasSel);
        TSelection s;
        switch (scenario) {
        case 0:
            Run(s, {{'p', 90, 80}, {'m', 60, 50}, {'m', 40, 30}, {'r', 40, 30}});
            break;
        case 1:
            Run(s, {{'p', 10, 10}, {'m', 13, 60}, {'r', 13, 60}});
            break;
        case 2:
            Run(s, {{'p', 10, 10}, {'m', 14, 14}, {'r', 14, 14}});
            break;
        case 3:
            Run(s, {{'p', 10, 10}, {'m', -50, 500}, {'r', -50, 500}});
            break;
        case 4:
            s.SetSel(Box);
            Run(s, {{'p', 150, 140}, {'m', 400, 400}, {'r', 400, 400}});
            break;
        case 5:
            s.SetSel(Box);
            Run(s, {{'p', 150, 140}, {'m', -100, -100}, {'r', 0, 0}});
            break;
        case 6:
            s.SetSel(Box);
            Run(s, {{'p', 100, 140}, {'m', 250, 140}});
            break;
        case 7:
            s.SetSel(Box);
            Run(s, {{'p', 100, 140}, {'m', 250, 140}, {'m', 220, 150}, {'r', 220, 150}});
            break;
        case 8:
            s.SetSel(Box);
            Run(s, {{'p', 203, 183}, {'m', 260, 190}, {'r', 260, 190}});
            break;
        case 9:
            s.SetSel(Box);
            Run(s, {{'p', 200, 180}, {'m', 102, 102}, {'r', 102, 102}});
            break;
        case 10:
            s.SetSel(Box);
            Run(s, {{'p', 250, 20}});
            break;
        case 11:
            Run(s, {{'p', 10, 10}, {'R', 60, 60}, {'m', 60, 60}});
            QCOMPARE(s.DragMode(), int(TSelection::dmDraw));
            s.MouseUp(Qt::RightButton);
            QCOMPARE(s.DragMode(), int(TSelection::dmDraw));
            s.MouseUp(Qt::LeftButton);
            break;
        }
        QCOMPARE(s.Sel(), sel);
        QCOMPARE(s.HasSel(), hasSel);
    }

    void dragRecordsItsStart() {
        TSelection s = WithSel(Box);
        s.MouseDown(Qt::LeftButton, 150, 140);
        QCOMPARE(s.DragMode(), int(TSelection::dmMove));
        QCOMPARE(s.DragHandle(), 9);
        s.MouseUp(Qt::LeftButton);
        s.MouseDown(Qt::LeftButton, 200, 140);
        QCOMPARE(s.DragMode(), int(TSelection::dmResize));
        QCOMPARE(s.DragHandle(), 4);
        // Hovering without a button changes nothing.
        s.MouseUp(Qt::LeftButton);
        QVERIFY(!s.MouseMove(10, 10, CW, CH));
        QCOMPARE(s.Sel(), Box);
    }

    void toImageRect_data() {
        QTest::addColumn<TRect>("sel");
        QTest::addColumn<bool>("hasSel");
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QSize>("image");
        QTest::addColumn<TRect>("expected");
        QTest::addColumn<bool>("usable");
        QTest::newRow("picture fills the area at half size")
            << TRect{100, 50, 300, 250} << true << QSize(400, 300) << QSize(800, 600)
            << TRect{200, 100, 600, 500} << true;
        QTest::newRow("margins of a portrait picture are taken off")
            << TRect{125, 0, 275, 300} << true << QSize(400, 300) << QSize(300, 600)
            << TRect{0, 0, 300, 600} << true;
        QTest::newRow("a selection in the margin only is unusable")
            << TRect{10, 10, 100, 200} << true << QSize(400, 300) << QSize(300, 600)
            << TRect{0, 20, -50, 400} << false;
        // A small picture is drawn at its own size, centred: the mapping must agree.
        QTest::newRow("small picture, not enlarged")
            << TRect{180, 135, 220, 165} << true << QSize(400, 300) << QSize(40, 30)
            << TRect{0, 0, 40, 30} << true;
        QTest::newRow("small picture, part of it")
            << TRect{190, 140, 200, 150} << true << QSize(400, 300) << QSize(40, 30)
            << TRect{10, 5, 20, 15} << true;
        QTest::newRow("halves round to even") << TRect{1, 401, 399, 403} << true << QSize(400, 1000)
                                              << QSize(1000, 500) << TRect{2, 2, 998, 8} << true;
        QTest::newRow("3 image pixels wide is unusable, values kept")
            << TRect{180, 135, 183, 165} << true << QSize(400, 300) << QSize(40, 30)
            << TRect{0, 0, 3, 30} << false;
        QTest::newRow("no selection") << TRect{0, 0, 100, 100} << false << QSize(400, 300)
                                      << QSize(40, 30) << TRect{} << false;
        QTest::newRow("no picture")
            << TRect{0, 0, 100, 100} << true << QSize(400, 300) << QSize(0, 30) << TRect{} << false;
        QTest::newRow("no area") << TRect{0, 0, 100, 100} << true << QSize(0, 300) << QSize(40, 30)
                                 << TRect{} << false;
    }
    void toImageRect() {
        QFETCH(TRect, sel);
        QFETCH(bool, hasSel);
        QFETCH(QSize, area);
        QFETCH(QSize, image);
        QFETCH(TRect, expected);
        QFETCH(bool, usable);
        TRect out{-1, -1, -1, -1};
        QCOMPARE(SelectionToImageRect(sel, hasSel, area.width(), area.height(), image.width(),
                                      image.height(), out),
                 usable);
        QCOMPARE(out, expected);
    }
};

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
