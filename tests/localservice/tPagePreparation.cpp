// Preparing photographed pages for recognition: scale, skew and table rules, checked
// on real JPEG pictures of lab reports.
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <leptonica/allheaders.h>

#include <cmath>

#include "reading/uPagePreparation.h"
#include "uReportPages.h"

namespace {

TPixPtr Decode(const QByteArray& AJpeg) {
    return TPixPtr(
        pixReadMem(reinterpret_cast<const l_uint8*>(AJpeg.constData()), size_t(AJpeg.size())));
}

// The first of the prepared pages, or null.
TPixPtr Prepared(Pix* APhoto, const TPreparationSettings& ASettings,
                 TPreparationReport* AReport = nullptr) {
    std::vector<TPixPtr> Pages = PreparePage(APhoto, ASettings, AReport);
    return Pages.empty() ? nullptr : std::move(Pages.front());
}

// The clean table page, drawn again scaled and turned.
QByteArray Transformed(const QByteArray& APage, double AScale, double ADegrees) {
    const QImage Page = QImage::fromData(APage, "JPG");
    const QSize Size(qRound(Page.width() * AScale), qRound(Page.height() * AScale));
    QImage Out(Size, QImage::Format_RGB32);
    Out.fill(Qt::white);
    QPainter Painter(&Out);
    Painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Painter.translate(Size.width() / 2.0, Size.height() / 2.0);
    Painter.rotate(ADegrees);
    Painter.scale(AScale, AScale);
    Painter.translate(-Page.width() / 2.0, -Page.height() / 2.0);
    Painter.drawImage(0, 0, Page);
    Painter.end();
    return EncodeJpeg(Out, 90);
}

// The longest run of dark pixels along any row, after preparation.
int LongestDarkRun(Pix* APage) {
    TPixPtr Ink(pixConvertTo1(APage, 128));
    l_int32 W = 0, H = 0, D = 0;
    pixGetDimensions(Ink.get(), &W, &H, &D);
    int Longest = 0;
    for (l_int32 y = 0; y < H; ++y) {
        int Run = 0;
        for (l_int32 x = 0; x < W; ++x) {
            l_uint32 Bit = 0;
            pixGetPixel(Ink.get(), x, y, &Bit);
            Run = Bit ? Run + 1 : 0;
            Longest = std::max(Longest, Run);
        }
    }
    return Longest;
}

} // namespace

class TPagePreparationTest : public QObject {
    Q_OBJECT

private:
    std::vector<TReportPage> FPages;

    const TReportPage& Page(const QString& AName) {
        for (const TReportPage& P : FPages) {
            if (P.Name == AName) {
                return P;
            }
        }
        qFatal("no page %s", qPrintable(AName));
    }

private slots:
    void initTestCase() {
        setMsgSeverity(L_SEVERITY_NONE);
        FPages = MakeReportPages();
    }

    // Text of any size comes out at the size asked for, skew of either sense comes out
    // straight, and a page already right is left at its size and angle.
    void scaleAndSkew_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<bool>("resized");

        QTest::newRow("as drawn") << 1.0 << 0.0 << false;
        QTest::newRow("small text, turned left") << 0.5 << -3.0 << true;
        QTest::newRow("large text, turned right") << 2.0 << 2.5 << true;
        QTest::newRow("slight turn") << 1.0 << 1.0 << false;
    }

    void scaleAndSkew() {
        QFETCH(double, scale);
        QFETCH(double, degrees);
        QFETCH(bool, resized);

        const TReportPage& Clean = Page(QStringLiteral("table-sans-30px/clean"));
        TPixPtr Photo = Decode(Transformed(Clean.Jpeg, scale, degrees));
        QVERIFY(Photo);
        TPreparationSettings Settings;
        Settings.TextHeight = 30;
        TPreparationReport Report;
        TPixPtr Ready = Prepared(Photo.get(), Settings, &Report);
        QVERIFY(Ready);

        // The page was drawn at the height asked for, so only a resized copy is scaled, back.
        if (resized) {
            QVERIFY2(std::abs(Report.Scale * scale - 1) < 0.2,
                     qPrintable(QString::number(Report.Scale)));
        } else {
            QCOMPARE(Report.Scale, 1.0f);
        }
        QVERIFY2(std::abs(Report.SkewDegrees - degrees) < 0.3,
                 qPrintable(QString::number(Report.SkewDegrees)));
        l_float32 Left = 0, Confidence = 0;
        TPixPtr Ink(pixConvertTo1(Ready.get(), 128));
        QCOMPARE(pixFindSkew(Ink.get(), &Left, &Confidence), 0);
        QVERIFY2(std::abs(Left) < 0.3, qPrintable(QString::number(Left)));
    }

    // Small text on a large photo is not blown up past what can be read in reasonable memory.
    void largePhotoOfSmallText() {
        const TReportPage& Clean = Page(QStringLiteral("list-serif-22px/clean"));
        TPixPtr Photo = Decode(Clean.Jpeg);
        // The page four times over, across and down: 6 MP of 22-pixel text.
        TPixPtr Tiled(pixCreate(pixGetWidth(Photo.get()) * 4, pixGetHeight(Photo.get()) * 4, 32));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                pixRasterop(Tiled.get(), x * pixGetWidth(Photo.get()),
                            y * pixGetHeight(Photo.get()), pixGetWidth(Photo.get()),
                            pixGetHeight(Photo.get()), PIX_SRC, Photo.get(), 0, 0);
            }
        }
        TPreparationSettings Settings;
        Settings.TextHeight = 120; // asks for fivefold
        TPreparationReport Report;
        TPixPtr Ready = Prepared(Tiled.get(), Settings, &Report);
        QVERIFY(Ready);
        QVERIFY(Report.Scale > 1);
        const double Pixels = double(pixGetWidth(Ready.get())) * double(pixGetHeight(Ready.get()));
        QVERIFY2(Pixels <= 24.5e6, qPrintable(QString::number(Pixels)));
    }

    // The table's rules are gone from the clean and the degraded photo alike (that the text
    // stays, the reports test shows: it reads these pages' text and values).
    void rulesRemoved_data() {
        QTest::addColumn<QString>("page");
        QTest::newRow("clean") << QStringLiteral("table-sans-30px/clean");
        QTest::newRow("degraded") << QStringLiteral("table-sans-30px/degraded");
    }

    void rulesRemoved() {
        QFETCH(QString, page);
        TPixPtr Photo = Decode(Page(page).Jpeg);
        TPreparationSettings Settings;
        TPixPtr Ready = Prepared(Photo.get(), Settings);
        QVERIFY(Ready);
        QVERIFY2(LongestDarkRun(Ready.get()) < 3 * Settings.TextHeight,
                 qPrintable(QString::number(LongestDarkRun(Ready.get()))));
    }

    // Whatever comes in, the engine gets grey or black and white, never nothing.
    void anyDepth_data() {
        QTest::addColumn<int>("depth");
        QTest::newRow("1 bpp") << 1;
        QTest::newRow("8 bpp") << 8;
        QTest::newRow("32 bpp") << 32;
    }

    void anyDepth() {
        QFETCH(int, depth);
        TPixPtr Photo = Decode(Page(QStringLiteral("list-serif-22px/clean")).Jpeg);
        TPixPtr Grey(pixConvertTo8(Photo.get(), 0));
        TPixPtr Input(depth == 1   ? pixConvertTo1(Grey.get(), 128)
                      : depth == 8 ? pixClone(Grey.get())
                                   : pixConvertTo32(Grey.get()));
        TPixPtr Ready = Prepared(Input.get(), {});
        QVERIFY(Ready);
        QCOMPARE(pixGetDepth(Ready.get()), 8);
    }

    // Pages with no text to measure keep their size, unless they pass the size cap; a
    // picture too small to work on is left to the engine as it came (no copies).
    void nothingToMeasure_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("dot");
        QTest::addColumn<int>("preparedWidth"); // 0: not prepared
        QTest::newRow("blank") << 800 << 600 << false << 800;
        QTest::newRow("one dot") << 800 << 600 << true << 800;
        QTest::newRow("one pixel") << 1 << 1 << false << 0;
        QTest::newRow("blank past the cap") << 8000 << 6000 << false << 5657;
    }

    void nothingToMeasure() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, dot);
        QFETCH(int, preparedWidth);
        TPixPtr Blank(pixCreate(width, height, 8));
        pixSetAll(Blank.get());
        if (dot) {
            pixSetPixel(Blank.get(), width / 2, height / 2, 0);
        }
        TPreparationReport Report;
        TPixPtr Ready = Prepared(Blank.get(), {}, &Report);
        if (preparedWidth == 0) {
            QVERIFY(!Ready);
            return;
        }
        QVERIFY(Ready);
        QVERIFY2(std::abs(pixGetWidth(Ready.get()) - preparedWidth) <= 2,
                 qPrintable(QString::number(pixGetWidth(Ready.get()))));
    }

    // A header printed white on a dark band is no table rule: the band stays dark, so its
    // text stays readable.
    void darkBandIsNoRule() {
        QImage Page(1400, 400, QImage::Format_RGB32);
        Page.fill(Qt::white);
        QPainter Painter(&Page);
        Painter.fillRect(QRect(50, 50, 1300, 60), Qt::black);
        QFont Font(QStringLiteral("Noto Sans CJK JP"));
        Font.setPixelSize(28);
        Painter.setFont(Font);
        Painter.setPen(Qt::white);
        Painter.drawText(70, 92, QStringLiteral("検査項目 結果 単位 基準値"));
        Painter.setPen(Qt::black);
        for (int Line = 0; Line < 4; ++Line) {
            Painter.drawText(70, 170 + 50 * Line, QStringLiteral("AST 25 U/L 13-30"));
        }
        Painter.end();
        TPixPtr Photo = Decode(EncodeJpeg(Page, 90));
        TPreparationSettings Settings;
        TPreparationReport Report;
        TPixPtr Ready = Prepared(Photo.get(), Settings, &Report);
        QVERIFY(Ready);
        // The band's middle, where the scaled page has it.
        const int Left = int(100 * Report.Scale), Top = int(60 * Report.Scale);
        const int Right = int(1300 * Report.Scale), Bottom = int(100 * Report.Scale);
        Box* Clip = boxCreate(Left, Top, Right - Left, Bottom - Top);
        TPixPtr Band(pixClipRectangle(Ready.get(), Clip, nullptr));
        boxDestroy(&Clip);
        l_float32 Mean = 255;
        pixGetAverageMasked(Band.get(), nullptr, 0, 0, 1, L_MEAN_ABSVAL, &Mean);
        QVERIFY2(Mean < 128, qPrintable(QString::number(Mean)));
    }
};

QTEST_MAIN(TPagePreparationTest)
#include "tPagePreparation.moc"
