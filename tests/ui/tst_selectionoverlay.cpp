// The overlay widget over the preview on the offscreen platform: it takes real mouse
// events into its selection, shows the cursor of the handle, and paints the rectangle.
#include "ui/uSelectionOverlay.h"

#include <QImage>
#include <QtTest>

namespace {

const TRect Box{100, 100, 200, 180}; // handle middles at x 150, y 140
constexpr int CW = 300, CH = 200;

} // namespace

class TestSelectionOverlay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void overlayTakesTheMouse() {
        TSelectionOverlay overlay;
        overlay.resize(CW, CH);
        overlay.show();
        QVERIFY(QTest::qWaitForWindowExposed(&overlay));
        QTest::mousePress(&overlay, Qt::LeftButton, {}, QPoint(20, 30));
        QTest::mouseMove(&overlay, QPoint(120, 90));
        QTest::mouseRelease(&overlay, Qt::LeftButton, {}, QPoint(120, 90));
        QVERIFY(overlay.Selection().HasSel());
        QCOMPARE(overlay.Selection().Sel(), (TRect{20, 30, 120, 90}));
        QCOMPARE(overlay.cursor().shape(), Qt::SizeFDiagCursor); // released on a corner
        overlay.pbSelectMouseMove(70, 60);
        QCOMPARE(overlay.cursor().shape(), Qt::SizeAllCursor);
        // A move far outside while the button is held is clamped to the overlay.
        overlay.pbSelectMouseDown(Qt::LeftButton, 120, 90);
        overlay.pbSelectMouseMove(5000, -5000);
        overlay.pbSelectMouseUp(Qt::LeftButton, 5000, -5000);
        QCOMPARE(overlay.Selection().Sel(), (TRect{20, 0, CW, 30}));
        overlay.ClearSelection();
        QVERIFY(!overlay.Selection().HasSel());
        QCOMPARE(overlay.cursor().shape(), Qt::CrossCursor);
    }

    void overlayPaints() {
        TSelectionOverlay overlay;
        overlay.resize(CW, CH);
        QImage empty(overlay.size(), QImage::Format_ARGB32);
        empty.fill(Qt::transparent);
        overlay.render(&empty, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(empty.pixelColor(150, 100).alpha(), 0); // nothing without a selection

        overlay.SetSelection(Box);
        QImage img(overlay.size(), QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        overlay.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(img.pixelColor(125, 100), QColor(255, 0, 0));     // outer frame, top edge
        QCOMPARE(img.pixelColor(125, 179), QColor(255, 0, 0));     // bottom edge
        QCOMPARE(img.pixelColor(100, 100), QColor(255, 255, 255)); // handle centre
        QCOMPARE(img.pixelColor(150, 94), QColor(255, 0, 0));      // handle outline, 12 x 12
        QCOMPARE(img.pixelColor(150, 93).alpha(), 0);              // just outside the handle
        QCOMPARE(img.pixelColor(150, 140).alpha(), 0);             // the picture shows through
        bool dotted = false;
        for (int x = 110; x < 140; ++x)
            dotted = dotted || img.pixelColor(x, 102) == QColor(255, 255, 255);
        QVERIFY(dotted); // the white inner frame
    }
};

QTEST_MAIN(TestSelectionOverlay)
#include "tst_selectionoverlay.moc"
