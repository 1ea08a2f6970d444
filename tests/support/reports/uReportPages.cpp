#include "uReportPages.h"

#include "uPagePhoto.h"

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// One printed row: cells at the layout's column stops. A row of one cell spans the page.
using TRow = QStringList;

struct TLayout {
    QString Name;
    QString Family;
    int PixelSize;
    std::vector<double> ColumnStops; // in ems from the left margin
    bool Grid;                       // rules around the rows of several cells
    std::vector<TRow> Rows;
    QString Institution;
    QString ExamDate;
    std::vector<std::pair<QString, QString>> Values;
    unsigned Seed;
};

std::vector<TLayout> Layouts() {
    return {
        {QStringLiteral("table-sans-30px"),
         QStringLiteral("Noto Sans CJK JP"),
         30,
         {0, 9, 13.5, 19, 25},
         true,
         {
             {QStringLiteral("臨床検査結果報告書")},
             {QStringLiteral("さくら内科クリニック　検査日 2024年5月1日")},
             {QStringLiteral("患者ID 0123　山田 太郎 様")},
             {"項目", "結果", "単位", "基準値", "判定"},
             {"AST(GOT)", "25", "U/L", "13-30", ""},
             {"ALT(GPT)", "42", "U/L", "10-42", ""},
             {"γ-GTP", "88", "U/L", "13-64", "H"},
             {"HDL-C", "58", "mg/dL", "40-90", ""},
             {"LDL-C", "152", "mg/dL", "65-139", "H"},
             {"中性脂肪", "180", "mg/dL", "30-149", "H"},
             {"クレアチニン", "0.84", "mg/dL", "0.65-1.07", ""},
             {"血糖", "112", "mg/dL", "73-109", "H"},
             {"HbA1c(NGSP)", "6.4", "%", "4.9-6.0", "H"},
         },
         QStringLiteral("さくら内科クリニック"),
         QStringLiteral("2024-05-01"),
         {{"AST", "25"},
          {"ALT", "42"},
          {"HDL-C", "58"},
          {"LDL-C", "152"},
          {"TG", "180"},
          {"Cr", "0.84"},
          {"BS", "112"},
          {"HbA1c", "6.4"}},
         11},
        {QStringLiteral("list-serif-22px"),
         QStringLiteral("Noto Serif CJK JP"),
         22,
         {0, 12, 16, 22},
         false,
         {
             {QStringLiteral("血液検査のお知らせ")},
             {QStringLiteral("医療法人青葉会 みどり台病院 TEL 03-1234-5678")},
             {QStringLiteral("採血日 令和6年6月3日")},
             {QStringLiteral("佐藤 花子 様　生年月日 1958/03/14")},
             {"GOT", "31", "IU/L", "(10-40)"},
             {"GPT", "27", "IU/L", "(5-45)"},
             {"HDLコレステロール", "45", "mg/dL", "(40-96)"},
             {"LDLコレステロール", "128", "mg/dL", "(70-139)"},
             {"トリグリセリド", "96", "mg/dL", "(50-149)"},
             {"クレアチニン", "1.12", "mg/dL", "(0.46-0.79) H"},
             {"グルコース", "98", "mg/dL", "(70-109)"},
             {"ヘモグロビンA1c", "5.8", "%", "(4.6-6.2)"},
         },
         QStringLiteral("医療法人青葉会みどり台病院"),
         QStringLiteral("2024-06-03"),
         {{"AST", "31"},
          {"ALT", "27"},
          {"HDL-C", "45"},
          {"LDL-C", "128"},
          {"TG", "96"},
          {"Cr", "1.12"},
          {"BS", "98"},
          {"HbA1c", "5.8"}},
         22},
        {QStringLiteral("columns-mono-48px"),
         QStringLiteral("Noto Sans Mono CJK JP"),
         48,
         {0, 4, 7, 13, 18, 21},
         false,
         {
             {QStringLiteral("ひまわり検査センター 報告日 2024/11/20")},
             {QStringLiteral("受付番号 A-20931")},
             {"AST", "18", "U/L", "ALT", "15", "U/L"},
             {"γ-GTP", "22", "U/L", "Cr", "0.71", "mg/dL"},
             {"TG", "210 H", "mg/dL", "BS", "131 H", "mg/dL"},
             {"HDL", "39 L", "mg/dL", "LDL", "101", "mg/dL"},
             {"HbA1c", "7.2 H", "%"},
         },
         QStringLiteral("ひまわり検査センター"),
         QStringLiteral("2024-11-20"),
         {{"AST", "18"},
          {"ALT", "15"},
          {"HDL-C", "39"},
          {"LDL-C", "101"},
          {"TG", "210"},
          {"Cr", "0.71"},
          {"BS", "131"},
          {"HbA1c", "7.2"}},
         33},
        {QStringLiteral("plain-sans-26px"),
         QStringLiteral("Noto Sans CJK JP"),
         26,
         {0, 6, 9.5, 13},
         false,
         {
             {QStringLiteral("健康診断結果のお知らせ")},
             {QStringLiteral("あおば医院")},
             {QStringLiteral("受診日 R6.4.15")},
             {"AST", "19", "U/L", "13-30"},
             {"ALT", "23", "U/L", "10-42"},
             {"HDL-C", "61", "mg/dL", "40-90"},
             {"LDL-C", "118", "mg/dL", "65-139"},
             {"TG", "87", "mg/dL", "30-149"},
             {"Cr", "0.76", "mg/dL", "0.46-0.79"},
             {"BS", "94", "mg/dL", "73-109"},
             {"HbA1c", "5.6", "%", "4.9-6.0"},
         },
         QStringLiteral("あおば医院"),
         QStringLiteral("2024-04-15"),
         {{"AST", "19"},
          {"ALT", "23"},
          {"HDL-C", "61"},
          {"LDL-C", "118"},
          {"TG", "87"},
          {"Cr", "0.76"},
          {"BS", "94"},
          {"HbA1c", "5.6"}},
         44},
    };
}

constexpr int kMarginEms = 2;
constexpr double kLineEms = 1.9;

QImage Render(const TLayout& ALayout) {
    const int Em = ALayout.PixelSize;
    const double Widest = ALayout.ColumnStops.back() + 6;
    const int Width = static_cast<int>((Widest + 2 * kMarginEms) * Em);
    const int Height = static_cast<int>(
        (static_cast<double>(ALayout.Rows.size()) * kLineEms + 2 * kMarginEms) * Em);
    QImage Image(Width, Height, QImage::Format_RGB32);
    Image.fill(Qt::white);
    QPainter Painter(&Image);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.setRenderHint(QPainter::TextAntialiasing);
    QFont Font(ALayout.Family);
    Font.setPixelSize(Em);
    Painter.setFont(Font);
    Painter.setPen(Qt::black);
    const double Left = kMarginEms * Em;
    for (size_t r = 0; r < ALayout.Rows.size(); ++r) {
        const TRow& Row = ALayout.Rows[r];
        const double Top = (kMarginEms + static_cast<double>(r) * kLineEms) * Em;
        const double Baseline = Top + 1.35 * Em;
        for (qsizetype c = 0; c < Row.size(); ++c) {
            Painter.drawText(
                QPointF(Left + ALayout.ColumnStops[static_cast<size_t>(c)] * Em, Baseline), Row[c]);
        }
        if (ALayout.Grid && Row.size() > 1) {
            Painter.save();
            Painter.setPen(QPen(QColor(110, 110, 110), std::max(1.0, Em / 20.0)));
            const double Right = Left + (Widest - 0.5) * Em;
            const double Bottom = Top + kLineEms * Em;
            Painter.drawLine(QPointF(Left - 0.3 * Em, Top), QPointF(Right, Top));
            Painter.drawLine(QPointF(Left - 0.3 * Em, Bottom), QPointF(Right, Bottom));
            for (const double Stop : ALayout.ColumnStops) {
                const double X = Left + (Stop - 0.3) * Em;
                Painter.drawLine(QPointF(X, Top), QPointF(X, Bottom));
            }
            Painter.drawLine(QPointF(Right, Top), QPointF(Right, Bottom));
            Painter.restore();
        }
    }
    return Image;
}

// A phone photo of the printed page: turned by 1.5 to 3 degrees, a little out of focus (blur
// of 3 % of the text's height), dim and lit from one side (paper from 135 to 220 of 255, ink
// from 70 to 95), with sensor noise (9 levels) and a camera's JPEG compression (quality 70).
QImage Degrade(const QImage& AClean, int APixelSize, unsigned ASeed) {
    std::mt19937 Random(ASeed);
    std::uniform_real_distribution<double> Unit(0, 1);
    const double Angle = (1.5 + 1.5 * Unit(Random)) * (Unit(Random) < 0.5 ? -1 : 1);

    QImage Turned(AClean.size(), QImage::Format_RGB32);
    Turned.fill(Qt::white);
    {
        QPainter Painter(&Turned);
        Painter.setRenderHint(QPainter::SmoothPixmapTransform);
        Painter.translate(Turned.width() / 2.0, Turned.height() / 2.0);
        Painter.rotate(Angle);
        Painter.translate(-Turned.width() / 2.0, -Turned.height() / 2.0);
        Painter.drawImage(0, 0, AClean);
    }

    const int W = Turned.width();
    const int H = Turned.height();
    std::vector<float> Ink(static_cast<size_t>(W) * static_cast<size_t>(H));
    for (int y = 0; y < H; ++y) {
        const auto* Line = reinterpret_cast<const QRgb*>(Turned.constScanLine(y));
        for (int x = 0; x < W; ++x) {
            Ink[static_cast<size_t>(y * W + x)] = 1.0f - static_cast<float>(qGray(Line[x])) / 255;
        }
    }
    BlurPlane(Ink, W, H, 0.03 * APixelSize);

    const double PaperBright = 200 + 20 * Unit(Random);
    const double Falloff = 45 + 20 * Unit(Random);
    const double InkLevel = 70 + 25 * Unit(Random);
    std::normal_distribution<double> Noise(0, 9);
    QImage Photo(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        auto* Line = reinterpret_cast<QRgb*>(Photo.scanLine(y));
        for (int x = 0; x < W; ++x) {
            const double Light = 0.6 * x / W + 0.4 * y / H;
            const double Paper = PaperBright - Falloff * Light;
            const double T = Ink[static_cast<size_t>(y * W + x)];
            const double V = Paper * (1 - T) + InkLevel * T + Noise(Random);
            const auto Channel = [&](double AFactor) {
                return static_cast<int>(std::clamp(V * AFactor, 0.0, 255.0));
            };
            Line[x] = qRgb(Channel(1.0), Channel(0.97), Channel(0.9));
        }
    }
    return Photo;
}

} // namespace

QByteArray EncodeJpeg(const QImage& AImage, int AQuality) {
    QByteArray Jpeg;
    QBuffer Buffer(&Jpeg);
    Buffer.open(QIODevice::WriteOnly);
    AImage.save(&Buffer, "JPG", AQuality);
    return Jpeg;
}

std::vector<TReportPage> MakeReportPages() {
    std::vector<TReportPage> Pages;
    for (const TLayout& Layout : Layouts()) {
        TReportPage Page;
        QStringList Lines;
        for (const TRow& Row : Layout.Rows) {
            QStringList Cells = Row;
            Cells.removeAll(QString());
            Lines << Cells.join(u' ');
        }
        Page.Text = Lines.join(u'\n');
        Page.Institution = Layout.Institution;
        Page.ExamDate = Layout.ExamDate;
        Page.Values = Layout.Values;

        const QImage Clean = Render(Layout);
        Page.Name = Layout.Name + QStringLiteral("/clean");
        Page.Jpeg = EncodeJpeg(Clean, 92);
        Pages.push_back(Page);

        Page.Name = Layout.Name + QStringLiteral("/degraded");
        Page.Degraded = true;
        Page.Jpeg = EncodeJpeg(Degrade(Clean, Layout.PixelSize, Layout.Seed), 70);
        Pages.push_back(Page);
    }
    return Pages;
}

QString ComparableText(const QString& AText) {
    QString Text = AText.normalized(QString::NormalizationForm_KC);
    Text.removeIf([](QChar C) { return C.isSpace(); });
    return Text;
}

double CharacterAccuracy(const QString& ATruth, const QString& ARecognised) {
    const QString Truth = ComparableText(ATruth);
    const QString Seen = ComparableText(ARecognised);
    if (Truth.isEmpty()) {
        return Seen.isEmpty() ? 1.0 : 0.0;
    }
    // Levenshtein distance, one row at a time.
    std::vector<qsizetype> Row(static_cast<size_t>(Seen.size()) + 1);
    for (qsizetype j = 0; j <= Seen.size(); ++j) {
        Row[static_cast<size_t>(j)] = j;
    }
    for (qsizetype i = 1; i <= Truth.size(); ++i) {
        qsizetype Diagonal = Row[0];
        Row[0] = i;
        for (qsizetype j = 1; j <= Seen.size(); ++j) {
            const qsizetype Above = Row[static_cast<size_t>(j)];
            const qsizetype Substitute = Diagonal + (Truth[i - 1] == Seen[j - 1] ? 0 : 1);
            Row[static_cast<size_t>(j)] =
                std::min({Substitute, Above + 1, Row[static_cast<size_t>(j - 1)] + 1});
            Diagonal = Above;
        }
    }
    const double Distance = static_cast<double>(Row.back());
    return std::max(0.0, 1.0 - Distance / static_cast<double>(Truth.size()));
}
