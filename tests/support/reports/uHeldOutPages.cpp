#include "uHeldOutPages.h"

#include "uPagePhoto.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace {

enum class TDigits {
    Plain,
    Proportional, // each digit as wide as its ink, as typeset prose prints them
    SlashedZero,  // a stroke through every zero, as many lab printers print it
};

enum class TRules {
    None,
    Grid,   // a box around every cell of the table
    Across, // a rule under the header and under every test
};

enum class TRowKind {
    Line,   // a line of the page's head or foot, one cell
    Title,  // larger and bold
    Header, // the table's column captions
    Test,
};

struct TPrintedRow {
    TRowKind Kind;
    QStringList Cells;
};

struct TDesign {
    QString Name;
    QString Family;
    QFont::Weight Weight = QFont::Normal;
    int PixelSize = 26;
    TDigits Digits = TDigits::Plain;
    std::vector<double> Stops; // the table's columns, in ems from the left margin
    QString Align;             // per column: 'L' starts at its stop, 'R' ends before the next
    TRules Rules = TRules::None;
    bool DarkHeader = false;            // white captions on a dark band
    bool Zebra = false;                 // every second test shaded
    std::vector<int> LeadersAfter = {}; // columns followed by a dotted leader up to the next cell
    std::vector<TPrintedRow> Rows;
    QString Institution;
    QString ExamDate; // yyyy-MM-dd
    std::vector<std::pair<QString, QString>> Values;
    QString PhotoName;
    TPhotoSettings Photo;
    int Quality = 70;
    unsigned Seed = 0;
};

TPrintedRow Title(const QString& AText) {
    return {TRowKind::Title, {AText}};
}
TPrintedRow Line(const QString& AText) {
    return {TRowKind::Line, {AText}};
}
TPrintedRow Header(const QStringList& ACells) {
    return {TRowKind::Header, ACells};
}
TPrintedRow Test(const QStringList& ACells) {
    return {TRowKind::Test, ACells};
}

std::vector<TDesign> Designs() {
    std::vector<TDesign> D;

    D.push_back({
        .Name = QStringLiteral("ruled-gothic"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 28,
        .Stops = {0, 7.5, 12, 16.5, 22.5},
        .Align = QStringLiteral("LRLLL"),
        .Rules = TRules::Grid,
        .Rows =
            {
                Title(QStringLiteral("生化学検査結果報告書")),
                Line(QStringLiteral("ひばりが丘総合病院")),
                Line(QStringLiteral("患者ID 004512　鈴木 健一 様　生年月日 昭和32年4月3日")),
                Line(QStringLiteral("採血日 令和6年8月20日　報告日 令和6年8月22日")),
                Header({"項目", "結果", "単位", "基準値", "判定"}),
                Test({"AST(GOT)", "1250", "U/L", "13-30", "H"}),
                Test({"ALT(GPT)", "980", "U/L", "10-42", "H"}),
                Test({"LD(IFCC)", "1,480", "U/L", "124-222", "H"}),
                Test({"ALP(IFCC)", "312", "U/L", "38-113", "H"}),
                Test({"γ-GTP", "145", "U/L", "13-64", "H"}),
                Test({"総ビリルビン", "2.4", "mg/dL", "0.4-1.5", "H"}),
                Test({"総蛋白", "6.8", "g/dL", "6.6-8.1", ""}),
                Test({"アルブミン", "3.6", "g/dL", "4.1-5.1", "L"}),
                Test({"CK", "88", "U/L", "59-248", ""}),
            },
        .Institution = QStringLiteral("ひばりが丘総合病院"),
        .ExamDate = QStringLiteral("2024-08-20"),
        .Values = {{"AST", "1250"},
                   {"ALT", "980"},
                   {"LD", "1,480"},
                   {"ALP", "312"},
                   {"γ-GTP", "145"},
                   {"総ビリルビン", "2.4"},
                   {"総蛋白", "6.8"},
                   {"アルブミン", "3.6"},
                   {"CK", "88"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = -2.2, .Blur = 0.035, .PaperBright = 205, .Noise = 8},
        .Quality = 65,
        .Seed = 101,
    });

    D.push_back({
        .Name = QStringLiteral("borderless-mincho"),
        .Family = QStringLiteral("Noto Serif CJK JP"),
        .PixelSize = 26,
        .Stops = {0, 11.5, 16, 21},
        .Align = QStringLiteral("LRLL"),
        .Rows =
            {
                Title(QStringLiteral("検査結果のお知らせ")),
                Line(QStringLiteral("医療法人 緑風会 かもめ台クリニック")),
                Line(QStringLiteral("高橋 一郎 様　生年月日 S40.2.11　男性")),
                Line(QStringLiteral("受診日 R6.8.20　報告日 R6.8.27")),
                Header({"検査項目", "結果", "単位", "基準範囲"}),
                Test({"総コレステロール", "H 262", "mg/dL", "(142-248)"}),
                Test({"LDLコレステロール", "H 188", "mg/dL", "(65-139)"}),
                Test({"HDLコレステロール", "L 38", "mg/dL", "(40-90)"}),
                Test({"中性脂肪", "H 245", "mg/dL", "(40-149)"}),
                Test({"non-HDLコレステロール", "H 224", "mg/dL", "(90-149)"}),
                Test({"空腹時血糖", "H 126", "mg/dL", "(73-109)"}),
                Test({"HbA1c(NGSP)", "H 6.8", "%", "(4.9-6.0)"}),
                Test({"尿酸", "7.0", "mg/dL", "(3.7-7.8)"}),
            },
        .Institution = QStringLiteral("医療法人 緑風会 かもめ台クリニック"),
        .ExamDate = QStringLiteral("2024-08-20"),
        .Values = {{"総コレステロール", "262"},
                   {"LDL-C", "188"},
                   {"HDL-C", "38"},
                   {"TG", "245"},
                   {"BS", "126"},
                   {"HbA1c", "6.8"},
                   {"尿酸", "7.0"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = 1.0, .Keystone = 0.12, .Desk = true, .Blur = 0.03, .Noise = 10},
        .Quality = 70,
        .Seed = 102,
    });

    // Two tests side by side; bold Gothic stands in for a rounded face, which is not installed.
    D.push_back({
        .Name = QStringLiteral("two-column-bold"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .Weight = QFont::Bold,
        .PixelSize = 24,
        .Stops = {0, 6.5, 10.5, 16, 24, 30.5, 34.5, 40},
        .Align = QStringLiteral("LRLLLRLL"),
        .Rows =
            {
                Title(QStringLiteral("血液検査報告書")),
                Line(QStringLiteral("氏名 田中 美咲 様　生年月日 1988年7月14日")),
                Line(QStringLiteral("検査日 2024年11月5日　報告日 2024年11月8日")),
                Header({"項目", "結果", "単位", "基準値", "項目", "結果", "単位", "基準値"}),
                Test({"白血球数", "4,200", "/μL", "3,300〜8,600", "ナトリウム", "138", "mEq/L",
                      "138-145"}),
                Test({"赤血球数", "452", "10^4/μL", "386-492", "カリウム", "5.8 H", "mEq/L",
                      "3.6-4.8"}),
                Test({"ヘモグロビン", "13.2", "g/dL", "11.6-14.8", "クロール", "102", "mEq/L",
                      "101-108"}),
                Test({"ヘマトクリット", "40.1", "%", "35.1-44.4", "カルシウム", "8.6 L", "mg/dL",
                      "8.8-10.1"}),
                Test({"血小板数", "23.4", "10^4/μL", "15.8-34.8", "尿素窒素", "14.2", "mg/dL",
                      "8.0-20.0"}),
                Test({"MCV", "88.7", "fL", "83.6-98.2", "クレアチニン", "0.62", "mg/dL",
                      "0.46-0.79"}),
                Line(QStringLiteral("北星臨床検査センター　TEL 011-555-0123")),
            },
        .Institution = QStringLiteral("北星臨床検査センター"),
        .ExamDate = QStringLiteral("2024-11-05"),
        .Values = {{"白血球数", "4,200"},
                   {"赤血球数", "452"},
                   {"ヘモグロビン", "13.2"},
                   {"ヘマトクリット", "40.1"},
                   {"血小板数", "23.4"},
                   {"MCV", "88.7"},
                   {"ナトリウム", "138"},
                   {"カリウム", "5.8"},
                   {"クロール", "102"},
                   {"カルシウム", "8.6"},
                   {"尿素窒素", "14.2"},
                   {"Cr", "0.62"}},
        .PhotoName = QStringLiteral("photo-90"),
        .Photo = {.SkewDegrees = 0.8,
                  .Blur = 0.04,
                  .ShadowDepth = 0.4,
                  .ShadowFromX = 0.55,
                  .ShadowFromY = 1.0,
                  .ShadowToX = 1.0,
                  .ShadowToY = 0.35,
                  .Noise = 9,
                  .QuarterTurns = 1},
        .Quality = 72,
        .Seed = 103,
    });

    // Latin in DejaVu Serif, Japanese from the fallback font, as office software prints it.
    D.push_back({
        .Name = QStringLiteral("leaders-serif"),
        .Family = QStringLiteral("DejaVu Serif"),
        .PixelSize = 26,
        .Stops = {0, 11, 15, 25, 31},
        .Align = QStringLiteral("LRLLL"),
        .LeadersAfter = {0},
        .Rows =
            {
                Title(QStringLiteral("腎機能検査 結果報告")),
                Line(QStringLiteral("市立みなと病院")),
                Line(QStringLiteral("採血日時 2024/09/12 08:45　報告日 2024/09/13")),
                Line(QStringLiteral("伊藤 和子 様 (78歳)　生年月日 1946/01/23　診療科 腎臓内科")),
                Header({"項目", "結果", "単位", "基準値", "判定"}),
                Test({"尿素窒素(BUN)", "72", "mg/dL", "8.0-20.0", "H"}),
                Test({"クレアチニン", "3.00", "mg/dL", "0.46-0.79", "H"}),
                Test({"eGFR", "12.8", "mL/min/1.73m²", "60以上", "L"}),
                Test({"尿酸", "8.9", "mg/dL", "2.6-5.5", "H"}),
                Test({"ナトリウム", "134", "mEq/L", "138-145", "L"}),
                Test({"カリウム", "5.9", "mEq/L", "3.6-4.8", "H"}),
                Test({"カルシウム", "7.9", "mg/dL", "8.8-10.1", "L"}),
                Test({"尿蛋白", "(2+)", "", "(-)", ""}),
                Test({"尿糖", "(-)", "", "(-)", ""}),
            },
        .Institution = QStringLiteral("市立みなと病院"),
        .ExamDate = QStringLiteral("2024-09-12"),
        .Values = {{"尿素窒素", "72"},
                   {"Cr", "3.00"},
                   {"eGFR", "12.8"},
                   {"尿酸", "8.9"},
                   {"ナトリウム", "134"},
                   {"カリウム", "5.9"},
                   {"カルシウム", "7.9"},
                   {"尿蛋白", "(2+)"},
                   {"尿糖", "(-)"}},
        .PhotoName = QStringLiteral("photo-180"),
        .Photo = {.SkewDegrees = 3.0, .Blur = 0.03, .Noise = 7, .QuarterTurns = 2},
        .Quality = 60,
        .Seed = 104,
    });

    D.push_back({
        .Name = QStringLiteral("dark-header"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 26,
        .Stops = {0, 8.5, 13, 18.5, 24},
        .Align = QStringLiteral("LRLLL"),
        .DarkHeader = true,
        .Rows =
            {
                Title(QStringLiteral("特殊検査 結果報告書")),
                Line(QStringLiteral("国立病院機構 東都医療センター")),
                Line(QStringLiteral("検体採取日 2024年10月3日　報告日 2024年10月10日")),
                Line(QStringLiteral("ID 7781-22　渡辺 正 様　生年月日 1951年12月2日")),
                Header({"検査項目", "結果", "単位", "基準値", "判定"}),
                Test({"TSH", "2.15", "μIU/mL", "0.50-5.00", ""}),
                Test({"FT4", "1.21", "ng/dL", "0.90-1.70", ""}),
                Test({"BNP", "245.3", "pg/mL", "18.4以下", "H"}),
                Test({"NT-proBNP", "1,850", "pg/mL", "125以下", "H"}),
                Test({"PSA", "4.82", "ng/mL", "4.00以下", "H"}),
                Test({"CEA", "3.2", "ng/mL", "5.0以下", ""}),
                Test({"CA19-9", "28", "U/mL", "37以下", ""}),
                Test({"フェリチン", "85", "ng/mL", "13-277", ""}),
                Test({"血清鉄", "62", "μg/dL", "40-188", ""}),
            },
        .Institution = QStringLiteral("国立病院機構 東都医療センター"),
        .ExamDate = QStringLiteral("2024-10-03"),
        .Values = {{"TSH", "2.15"},
                   {"FT4", "1.21"},
                   {"BNP", "245.3"},
                   {"NT-proBNP", "1,850"},
                   {"PSA", "4.82"},
                   {"CEA", "3.2"},
                   {"CA19-9", "28"},
                   {"フェリチン", "85"},
                   {"血清鉄", "62"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = -1.5,
                  .Keystone = 0.08,
                  .Desk = true,
                  .Blur = 0.03,
                  .ShadowDepth = 0.35,
                  .ShadowFromX = 0.3,
                  .ShadowFromY = 0.0,
                  .ShadowToX = 0.0,
                  .ShadowToY = 0.8,
                  .Noise = 8},
        .Quality = 68,
        .Seed = 105,
    });

    // Latin in DejaVu Sans Condensed.
    D.push_back({
        .Name = QStringLiteral("zebra-condensed"),
        .Family = QStringLiteral("DejaVu Sans Condensed"),
        .PixelSize = 25,
        .Stops = {0, 7, 11.5, 17, 23},
        .Align = QStringLiteral("LRLLL"),
        .Zebra = true,
        .Rows =
            {
                Title(QStringLiteral("CBC 血算 検査報告")),
                Line(QStringLiteral("さくら通り診療所")),
                Line(QStringLiteral("測定日 2024.07.09　報告日 2024.07.09")),
                Line(QStringLiteral("氏名 小林 陽子 様　生年月日 1972.05.30")),
                Header({"項目", "結果", "単位", "基準値"}),
                Test({"WBC", "6.8", "10^3/μL", "3.3-8.6"}),
                Test({"RBC", "4.52", "10^6/μL", "3.86-4.92"}),
                Test({"Hb", "13.6", "g/dL", "11.6-14.8"}),
                Test({"Ht", "41.2", "%", "35.1-44.4"}),
                Test({"MCV", "91.2", "fL", "83.6-98.2"}),
                Test({"MCH", "30.1", "pg", "27.5-33.2"}),
                Test({"MCHC", "33.0", "g/dL", "31.7-35.3"}),
                Test({"PLT", "215", "10^3/μL", "158-348"}),
                Test({"好中球", "58.2", "%", "40.0-75.0"}),
                Test({"リンパ球", "31.5", "%", "18.0-49.0"}),
            },
        .Institution = QStringLiteral("さくら通り診療所"),
        .ExamDate = QStringLiteral("2024-07-09"),
        .Values = {{"白血球数", "6.8"},
                   {"赤血球数", "4.52"},
                   {"ヘモグロビン", "13.6"},
                   {"ヘマトクリット", "41.2"},
                   {"MCV", "91.2"},
                   {"MCH", "30.1"},
                   {"MCHC", "33.0"},
                   {"血小板数", "215"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = 2.0,
                  .Blur = 0.045,
                  .ShadowDepth = 0.4,
                  .ShadowFromX = 0.5,
                  .ShadowFromY = 0.0,
                  .ShadowToX = 1.0,
                  .ShadowToY = 0.45,
                  .Noise = 9},
        .Quality = 75,
        .Seed = 106,
    });

    D.push_back({
        .Name = QStringLiteral("previous-beside"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 26,
        .Stops = {0, 6.5, 10.5, 14, 19},
        .Align = QStringLiteral("LRRLL"),
        .Rules = TRules::Across,
        .Rows =
            {
                Title(QStringLiteral("検査結果報告書（前回値比較）")),
                Line(QStringLiteral("あさひ台内科クリニック")),
                Line(QStringLiteral("採血日 2024年11月5日　前回 2024年8月6日")),
                Line(QStringLiteral("山本 俊介 様　生年月日 1960年3月9日")),
                Header({"項目", "今回", "前回", "単位", "基準値"}),
                Test({"AST", "35", "41", "U/L", "13-30"}),
                Test({"ALT", "48", "52", "U/L", "10-42"}),
                Test({"γ-GTP", "96", "120", "U/L", "13-64"}),
                Test({"LDL-C", "142", "168", "mg/dL", "65-139"}),
                Test({"HDL-C", "44", "41", "mg/dL", "40-90"}),
                Test({"TG", "198", "256", "mg/dL", "30-149"}),
                Test({"HbA1c", "7.1", "7.6", "%", "4.9-6.0"}),
                Test({"血糖", "148", "162", "mg/dL", "73-109"}),
            },
        .Institution = QStringLiteral("あさひ台内科クリニック"),
        .ExamDate = QStringLiteral("2024-11-05"),
        .Values = {{"AST", "35"},
                   {"ALT", "48"},
                   {"γ-GTP", "96"},
                   {"LDL-C", "142"},
                   {"HDL-C", "44"},
                   {"TG", "198"},
                   {"HbA1c", "7.1"},
                   {"BS", "148"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = -2.8, .Blur = 0.04, .PaperBright = 185, .Noise = 10},
        .Quality = 62,
        .Seed = 107,
    });

    // No installed font slashes its zero: the stroke is drawn over Noto Sans Mono CJK JP's.
    D.push_back({
        .Name = QStringLiteral("slashed-zero-mono"),
        .Family = QStringLiteral("Noto Sans Mono CJK JP"),
        .PixelSize = 26,
        .Digits = TDigits::SlashedZero,
        .Stops = {0, 10.5, 16.5, 22.5, 31.5},
        .Align = QStringLiteral("LLLLL"),
        .Rows =
            {
                Title(QStringLiteral("＊＊ 検 査 報 告 書 ＊＊")),
                Line(QStringLiteral("かしわ台病院")),
                Line(QStringLiteral("検体採取 2024/10/01 10:20　報告 2024/10/01")),
                Line(QStringLiteral("患者番号 00210　中村 三郎 様　生年月日 1940/10/10")),
                Header({"項目名", "結果", "単位", "基準値", "判定"}),
                Test({"CRP", "0.21", "mg/dL", "0.00-0.14", "H"}),
                Test({"白血球数", "10,500", "/μL", "3,300-8,600", "H"}),
                Test({"総蛋白", "7.0", "g/dL", "6.6-8.1", ""}),
                Test({"アルブミン", "4.0", "g/dL", "4.1-5.1", "L"}),
                Test({"総ビリルビン", "1.0", "mg/dL", "0.4-1.5", ""}),
                Test({"直接ビリルビン", "0.10", "mg/dL", "0.00-0.40", ""}),
                Test({"アミラーゼ", "100", "U/L", "44-132", ""}),
                Test({"コリンエステラーゼ", "305", "U/L", "201-421", ""}),
                Test({"尿素窒素", "10.0", "mg/dL", "8.0-20.0", ""}),
            },
        .Institution = QStringLiteral("かしわ台病院"),
        .ExamDate = QStringLiteral("2024-10-01"),
        .Values = {{"CRP", "0.21"},
                   {"白血球数", "10,500"},
                   {"総蛋白", "7.0"},
                   {"アルブミン", "4.0"},
                   {"総ビリルビン", "1.0"},
                   {"直接ビリルビン", "0.10"},
                   {"アミラーゼ", "100"},
                   {"コリンエステラーゼ", "305"},
                   {"尿素窒素", "10.0"}},
        .PhotoName = QStringLiteral("photo-270"),
        .Photo =
            {.SkewDegrees = -1.2, .Keystone = 0.06, .Blur = 0.035, .Noise = 8, .QuarterTurns = 3},
        .Quality = 66,
        .Seed = 108,
    });

    D.push_back({
        .Name = QStringLiteral("proportional-digits"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 28,
        .Digits = TDigits::Proportional,
        .Stops = {0, 8.5, 13, 17.5},
        .Align = QStringLiteral("LLLL"),
        .Rows =
            {
                Title(QStringLiteral("健康診断 血液検査結果")),
                Line(QStringLiteral("令和6年度 特定健康診査")),
                Line(QStringLiteral("医療法人 はるかぜ会 すずらん健診クリニック")),
                Line(QStringLiteral("受診日 2024年7月9日　生年月日 1979年2月28日")),
                Line(QStringLiteral("報告日 2024年7月16日")),
                Header({"項目", "結果", "単位", "基準値"}),
                Test({"AST", "22", "U/L", "13-30"}),
                Test({"ALT", "45 ↑", "U/L", "10-42"}),
                Test({"γ-GTP", "71 ↑", "U/L", "13-64"}),
                Test({"総コレステロール", "241", "mg/dL", "142-248"}),
                Test({"LDL-C", "161 ↑", "mg/dL", "65-139"}),
                Test({"HDL-C", "51", "mg/dL", "40-90"}),
                Test({"TG", "117", "mg/dL", "30-149"}),
                Test({"空腹時血糖", "111 ↑", "mg/dL", "73-109"}),
                Test({"HbA1c", "5.9", "%", "4.9-6.0"}),
                Test({"尿酸", "6.1", "mg/dL", "3.7-7.8"}),
            },
        .Institution = QStringLiteral("医療法人 はるかぜ会 すずらん健診クリニック"),
        .ExamDate = QStringLiteral("2024-07-09"),
        .Values = {{"AST", "22"},
                   {"ALT", "45"},
                   {"γ-GTP", "71"},
                   {"総コレステロール", "241"},
                   {"LDL-C", "161"},
                   {"HDL-C", "51"},
                   {"TG", "117"},
                   {"BS", "111"},
                   {"HbA1c", "5.9"},
                   {"尿酸", "6.1"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = 1.2,
                  .Blur = 0.03,
                  .ShadowDepth = 0.45,
                  .ShadowFromX = 0.0,
                  .ShadowFromY = 0.25,
                  .ShadowToX = 0.45,
                  .ShadowToY = 1.0,
                  .Noise = 9},
        .Quality = 70,
        .Seed = 109,
    });

    // DejaVu Sans Mono prints its zero with a dot inside.
    D.push_back({
        .Name = QStringLiteral("dotted-zero-codes"),
        .Family = QStringLiteral("DejaVu Sans Mono"),
        .PixelSize = 24,
        .Stops = {0, 4, 12, 17, 23, 31},
        .Align = QStringLiteral("LLLLLL"),
        .Rules = TRules::Across,
        .Rows =
            {
                Title(QStringLiteral("検査結果一覧")),
                Line(QStringLiteral("やまびこ医院")),
                Line(QStringLiteral("検査日 令和6年9月2日")),
                Line(QStringLiteral(
                    "氏名 加藤 直美　生年月日 昭和50年6月1日　報告日 令和6年9月4日")),
                Header({"コード", "項目", "結果", "単位", "基準値", "判定"}),
                Test({"1001", "総蛋白", "7.3", "g/dL", "6.6-8.1", ""}),
                Test({"1002", "アルブミン", "4.4", "g/dL", "4.1-5.1", ""}),
                Test({"1010", "AST", "30", "U/L", "13-30", ""}),
                Test({"1011", "ALT", "20", "U/L", "10-42", ""}),
                Test({"1020", "LD", "200", "U/L", "124-222", ""}),
                Test({"1030", "ALP", "60", "U/L", "38-113", ""}),
                Test({"1040", "CK", "105", "U/L", "41-153", ""}),
                Test({"1050", "尿素窒素", "20.0", "mg/dL", "8.0-20.0", ""}),
                Test({"1060", "クレアチニン", "0.80", "mg/dL", "0.46-0.79", "H"}),
                Test({"1070", "尿酸", "5.0", "mg/dL", "2.6-5.5", ""}),
            },
        .Institution = QStringLiteral("やまびこ医院"),
        .ExamDate = QStringLiteral("2024-09-02"),
        .Values = {{"総蛋白", "7.3"},
                   {"アルブミン", "4.4"},
                   {"AST", "30"},
                   {"ALT", "20"},
                   {"LD", "200"},
                   {"ALP", "60"},
                   {"CK", "105"},
                   {"尿素窒素", "20.0"},
                   {"Cr", "0.80"},
                   {"尿酸", "5.0"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = -1.0, .Blur = 0.05, .PaperBright = 190, .Noise = 12},
        .Quality = 60,
        .Seed = 110,
    });

    D.push_back({
        .Name = QStringLiteral("reference-first-mincho"),
        .Family = QStringLiteral("Noto Serif CJK JP"),
        .Weight = QFont::Bold,
        .PixelSize = 25,
        .Stops = {0, 8.5, 14, 18.5, 27.5},
        .Align = QStringLiteral("LLRLL"),
        .Rules = TRules::Grid,
        .Rows =
            {
                Title(QStringLiteral("臨床検査成績書")),
                Line(QStringLiteral("社会医療法人 若葉会 わかば医療センター")),
                Line(QStringLiteral("採取日：2024-08-30")),
                Line(QStringLiteral("生年月日 1955/11/11　報告日 2024-09-02")),
                Header({"項目", "基準値", "結果", "単位", "判定"}),
                Test({"総コレステロール", "142-248", "205", "mg/dL", ""}),
                Test({"LDL-C", "65-139", "121", "mg/dL", ""}),
                Test({"HDL-C", "40-90", "62", "mg/dL", ""}),
                Test({"TG", "30-149", "158", "mg/dL", "H"}),
                Test({"血糖", "73-109", "96", "mg/dL", ""}),
                Test({"HbA1c", "4.9-6.0", "5.7", "%", ""}),
                Test({"CRP", "0.14以下", "0.08", "mg/dL", ""}),
                Test({"eGFR", "60以上", "72.4", "mL/min/1.73m²", ""}),
                Test({"ヘモグロビン", "11.6-14.8", "12.9", "g/dL", ""}),
            },
        .Institution = QStringLiteral("社会医療法人 若葉会 わかば医療センター"),
        .ExamDate = QStringLiteral("2024-08-30"),
        .Values = {{"総コレステロール", "205"},
                   {"LDL-C", "121"},
                   {"HDL-C", "62"},
                   {"TG", "158"},
                   {"BS", "96"},
                   {"HbA1c", "5.7"},
                   {"CRP", "0.08"},
                   {"eGFR", "72.4"},
                   {"ヘモグロビン", "12.9"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = 0.7,
                  .Keystone = 0.1,
                  .Desk = true,
                  .Blur = 0.03,
                  .ShadowDepth = 0.35,
                  .ShadowFromX = 1.0,
                  .ShadowFromY = 0.7,
                  .ShadowToX = 0.0,
                  .ShadowToY = 0.85,
                  .Noise = 7},
        .Quality = 74,
        .Seed = 111,
    });

    D.push_back({
        .Name = QStringLiteral("urine-and-counts"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 27,
        .Stops = {0, 8.5, 12.5, 18.5},
        .Align = QStringLiteral("LLLL"),
        .Rules = TRules::Grid,
        .Rows =
            {
                Title(QStringLiteral("尿・血液検査結果")),
                Line(QStringLiteral("こもれび内科診療所")),
                Line(QStringLiteral("検査日 R6.11.5　報告日 R6.11.7")),
                Line(QStringLiteral("生年月日 H2.4.1 (34歳)")),
                Header({"検査項目", "結果", "基準値", "単位"}),
                Test({"尿蛋白", "(±)", "(-)", ""}),
                Test({"尿糖", "(-)", "(-)", ""}),
                Test({"尿潜血", "(1+)", "(-)", ""}),
                Test({"ウロビリノーゲン", "(±)", "(±)", ""}),
                Test({"白血球数", "5,600", "3,300〜8,600", "/μL"}),
                Test({"赤血球数", "398", "386〜492", "×10^4/μL"}),
                Test({"血小板数", "18.2", "15.8〜34.8", "×10^4/μL"}),
                Test({"HbA1c", "6.1 (H)", "4.9〜6.0", "%"}),
            },
        .Institution = QStringLiteral("こもれび内科診療所"),
        .ExamDate = QStringLiteral("2024-11-05"),
        .Values = {{"尿蛋白", "(±)"},
                   {"尿糖", "(-)"},
                   {"白血球数", "5,600"},
                   {"赤血球数", "398"},
                   {"血小板数", "18.2"},
                   {"HbA1c", "6.1"}},
        .PhotoName = QStringLiteral("photo-90"),
        .Photo = {.SkewDegrees = 1.8,
                  .Blur = 0.035,
                  .ShadowDepth = 0.3,
                  .ShadowFromX = 0.0,
                  .ShadowFromY = 0.6,
                  .ShadowToX = 1.0,
                  .ShadowToY = 0.9,
                  .Noise = 9,
                  .QuarterTurns = 1},
        .Quality = 68,
        .Seed = 112,
    });

    // Cumulative: the oldest result on the left, the current one last.
    D.push_back({
        .Name = QStringLiteral("cumulative-dejavu"),
        .Family = QStringLiteral("DejaVu Sans"),
        .PixelSize = 24,
        .Stops = {0, 7, 14, 21, 28, 33},
        .Align = QStringLiteral("LRRRLL"),
        .Rules = TRules::Across,
        .Rows =
            {
                Title(QStringLiteral("累積検査報告")),
                Line(QStringLiteral("はまなす内科医院")),
                Line(QStringLiteral("今回採血日 2024年11月5日")),
                Line(QStringLiteral("患者 佐々木 恵 様　生年月日 1966年8月8日")),
                Header({"項目", "2024/06/04", "2024/08/27", "2024/11/05", "単位", "基準値"}),
                Test({"AST", "58", "44", "31", "U/L", "13-30"}),
                Test({"ALT", "77", "51", "29", "U/L", "10-42"}),
                Test({"γ-GTP", "210", "150", "88", "U/L", "13-64"}),
                Test({"ALP", "130", "101", "95", "U/L", "38-113"}),
                Test({"総ビリルビン", "1.6", "1.2", "0.9", "mg/dL", "0.4-1.5"}),
                Test({"アルブミン", "3.8", "4.0", "4.2", "g/dL", "4.1-5.1"}),
                Test({"Cr", "0.71", "0.69", "0.70", "mg/dL", "0.46-0.79"}),
            },
        .Institution = QStringLiteral("はまなす内科医院"),
        .ExamDate = QStringLiteral("2024-11-05"),
        .Values = {{"AST", "31"},
                   {"ALT", "29"},
                   {"γ-GTP", "88"},
                   {"ALP", "95"},
                   {"総ビリルビン", "0.9"},
                   {"アルブミン", "4.2"},
                   {"Cr", "0.70"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = 2.5, .Keystone = 0.1, .Desk = true, .Blur = 0.04, .Noise = 10},
        .Quality = 63,
        .Seed = 113,
    });

    // One test a line, "name: value unit (range)", in small print and by their abbreviations.
    D.push_back({
        .Name = QStringLiteral("colon-list-small"),
        .Family = QStringLiteral("Noto Sans CJK JP"),
        .PixelSize = 21,
        .Stops = {0},
        .Align = QStringLiteral("L"),
        .Rows =
            {
                Title(QStringLiteral("血液検査 結果票")),
                Line(QStringLiteral("札幌市中央区北1条西2丁目3-4")),
                Line(QStringLiteral("つばさクリニック　TEL 011-222-3333")),
                Line(QStringLiteral("採血日：2024年9月30日")),
                Test({"Na：141 mEq/L（138-145）"}),
                Test({"K：4.1 mEq/L（3.6-4.8）"}),
                Test({"Cl：104 mEq/L（101-108）"}),
                Test({"UA：5.2 mg/dL（3.7-7.8）"}),
                Test({"BUN：18.5 mg/dL（8.0-20.0）"}),
                Test({"CRE：1.02 mg/dL（0.65-1.07）"}),
                Test({"eGFR：55.3 mL/min/1.73m²（60以上）L"}),
                Test({"T-Bil：0.7 mg/dL（0.4-1.5）"}),
                Test({"CK：1,020 U/L（59-248）H"}),
            },
        .Institution = QStringLiteral("つばさクリニック"),
        .ExamDate = QStringLiteral("2024-09-30"),
        .Values = {{"ナトリウム", "141"},
                   {"カリウム", "4.1"},
                   {"クロール", "104"},
                   {"尿酸", "5.2"},
                   {"尿素窒素", "18.5"},
                   {"Cr", "1.02"},
                   {"eGFR", "55.3"},
                   {"総ビリルビン", "0.7"},
                   {"CK", "1,020"}},
        .PhotoName = QStringLiteral("photo"),
        .Photo = {.SkewDegrees = -2.0,
                  .Blur = 0.04,
                  .ShadowDepth = 0.4,
                  .ShadowFromX = 1.0,
                  .ShadowFromY = 0.2,
                  .ShadowToX = 0.0,
                  .ShadowToY = 0.1,
                  .Noise = 8},
        .Quality = 70,
        .Seed = 114,
    });

    return D;
}

constexpr double kMarginEms = 2;
constexpr double kLineEms = 1.9;
constexpr double kCellGapEms = 0.8; // between a right-aligned cell and the next column

// Draws AText with its baseline's left end at AOrigin (or only measures it, without
// APainter) and gives its width.
double PaintText(QPainter* APainter, const QFont& AFont, TDigits ADigits, QPointF AOrigin,
                 const QString& AText) {
    const QFontMetricsF Metrics(AFont);
    const double Em = AFont.pixelSize();
    if (ADigits == TDigits::Proportional) {
        double X = 0;
        for (const QChar C : AText) {
            double Advance = Metrics.horizontalAdvance(C);
            double Offset = 0;
            if (C >= u'0' && C <= u'9') {
                const QRectF Ink = Metrics.tightBoundingRect(QString(C));
                Offset = -Ink.left() + 0.04 * Em;
                Advance = Ink.width() + 0.08 * Em;
            }
            if (APainter != nullptr) {
                APainter->drawText(AOrigin + QPointF(X + Offset, 0), QString(C));
            }
            X += Advance;
        }
        return X;
    }
    if (APainter != nullptr) {
        APainter->drawText(AOrigin, AText);
        if (ADigits == TDigits::SlashedZero) {
            const QRectF Zero = Metrics.tightBoundingRect(QStringLiteral("0"));
            APainter->save();
            APainter->setPen(QPen(APainter->pen().color(), 0.075 * Em));
            for (qsizetype i = 0; i < AText.size(); ++i) {
                if (AText[i] != u'0') {
                    continue;
                }
                const QRectF Ink =
                    Zero.translated(AOrigin + QPointF(Metrics.horizontalAdvance(AText.left(i)), 0));
                APainter->drawLine(
                    QPointF(Ink.left() + 0.12 * Ink.width(), Ink.bottom() - 0.1 * Ink.height()),
                    QPointF(Ink.right() - 0.12 * Ink.width(), Ink.top() + 0.1 * Ink.height()));
            }
            APainter->restore();
        }
    }
    return Metrics.horizontalAdvance(AText);
}

QImage Render(const TDesign& ADesign) {
    const int Em = ADesign.PixelSize;
    QFont Font(ADesign.Family);
    Font.setPixelSize(Em);
    Font.setWeight(ADesign.Weight);
    QFont TitleFont = Font;
    TitleFont.setPixelSize(static_cast<int>(Em * 1.3));
    TitleFont.setWeight(QFont::Bold);
    const double Left = kMarginEms * Em;

    // Where each cell of a row starts, from the left margin, and where the row's ink ends.
    const auto Place = [&](const TPrintedRow& ARow, std::vector<double>& AStarts) {
        const QFont& RowFont = ARow.Kind == TRowKind::Title ? TitleFont : Font;
        AStarts.assign(static_cast<size_t>(ARow.Cells.size()), 0);
        double End = 0;
        for (qsizetype c = 0; c < ARow.Cells.size(); ++c) {
            const auto Column = static_cast<size_t>(c);
            const double Width = PaintText(nullptr, RowFont, ADesign.Digits, {}, ARow.Cells[c]);
            double Start = ADesign.Stops[Column] * Em;
            if (ARow.Kind != TRowKind::Header && ADesign.Align[c] == u'R' &&
                Column + 1 < ADesign.Stops.size()) {
                Start = (ADesign.Stops[Column + 1] - kCellGapEms) * Em - Width;
            }
            AStarts[Column] = Start;
            End = std::max(End, Start + Width);
        }
        return End;
    };

    double TableEnd = 0;
    double PageEnd = 0;
    std::vector<double> Starts;
    for (const TPrintedRow& Row : ADesign.Rows) {
        const double End = Place(Row, Starts);
        PageEnd = std::max(PageEnd, End);
        if (Row.Kind == TRowKind::Header || Row.Kind == TRowKind::Test) {
            TableEnd = std::max(TableEnd, End);
        }
    }
    const double TableLeft = Left - 0.4 * Em;
    const double TableRight = Left + TableEnd + 0.6 * Em;

    const int Width = static_cast<int>(std::max(PageEnd + Left, TableRight) + kMarginEms * Em);
    const int Height = static_cast<int>(
        (static_cast<double>(ADesign.Rows.size()) * kLineEms + 2 * kMarginEms) * Em);
    QImage Image(Width, Height, QImage::Format_RGB32);
    Image.fill(Qt::white);
    QPainter Painter(&Image);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.setRenderHint(QPainter::TextAntialiasing);
    const QPen Rule(QColor(90, 90, 90), std::max(1.0, Em / 18.0));

    int TestIndex = 0;
    for (size_t r = 0; r < ADesign.Rows.size(); ++r) {
        const TPrintedRow& Row = ADesign.Rows[r];
        const double Top = (kMarginEms + static_cast<double>(r) * kLineEms) * Em;
        const double Bottom = Top + kLineEms * Em;
        const double Baseline = Top + 1.35 * Em;
        const QRectF Band(QPointF(TableLeft, Top), QPointF(TableRight, Bottom));
        const bool InTable = Row.Kind == TRowKind::Header || Row.Kind == TRowKind::Test;
        Place(Row, Starts);

        QColor Ink = Qt::black;
        if (Row.Kind == TRowKind::Header && ADesign.DarkHeader) {
            Painter.fillRect(Band, QColor(40, 52, 72));
            Ink = Qt::white;
        }
        if (Row.Kind == TRowKind::Test && ADesign.Zebra && TestIndex % 2 == 1) {
            Painter.fillRect(Band, QColor(226, 226, 226));
        }

        Painter.setPen(Ink);
        const QFont& RowFont = Row.Kind == TRowKind::Title ? TitleFont : Font;
        Painter.setFont(RowFont);
        for (qsizetype c = 0; c < Row.Cells.size(); ++c) {
            PaintText(&Painter, RowFont, ADesign.Digits,
                      QPointF(Left + Starts[static_cast<size_t>(c)], Baseline), Row.Cells[c]);
        }

        if (Row.Kind == TRowKind::Test) {
            for (const int Column : ADesign.LeadersAfter) {
                const auto C = static_cast<size_t>(Column);
                if (Column + 1 >= Row.Cells.size()) {
                    continue;
                }
                const double From =
                    Left + Starts[C] +
                    PaintText(nullptr, RowFont, ADesign.Digits, {}, Row.Cells[Column]) + 0.4 * Em;
                const double To = Left + Starts[C + 1] - 0.4 * Em;
                Painter.save();
                Painter.setPen(Qt::NoPen);
                Painter.setBrush(Qt::black);
                for (double X = From; X <= To; X += 0.45 * Em) {
                    Painter.drawEllipse(QPointF(X, Baseline - 0.06 * Em), 0.055 * Em, 0.055 * Em);
                }
                Painter.restore();
            }
        }

        if (InTable && ADesign.Rules == TRules::Grid) {
            Painter.setPen(Rule);
            Painter.drawRect(Band);
            for (size_t s = 1; s < ADesign.Stops.size(); ++s) {
                const double X = Left + (ADesign.Stops[s] - 0.4) * Em;
                Painter.drawLine(QPointF(X, Top), QPointF(X, Bottom));
            }
        }
        if (InTable && ADesign.Rules == TRules::Across) {
            Painter.setPen(Row.Kind == TRowKind::Header ? QPen(Rule.color(), 2 * Rule.widthF())
                                                        : Rule);
            Painter.drawLine(QPointF(TableLeft, Bottom), QPointF(TableRight, Bottom));
        }
        if (Row.Kind == TRowKind::Test) {
            ++TestIndex;
        }
    }
    return Image;
}

} // namespace

std::vector<TReportPage> MakeHeldOutPages() {
    std::vector<TReportPage> Pages;
    for (const TDesign& Design : Designs()) {
        TReportPage Page;
        QStringList Lines;
        for (const TPrintedRow& Row : Design.Rows) {
            QStringList Cells = Row.Cells;
            Cells.removeAll(QString());
            Lines << Cells.join(u' ');
        }
        Page.Text = Lines.join(u'\n');
        Page.Institution = Design.Institution;
        Page.ExamDate = Design.ExamDate;
        Page.Values = Design.Values;

        const QImage Clean = Render(Design);
        Page.Name = Design.Name + QStringLiteral("/clean");
        Page.Jpeg = EncodeJpeg(Clean, 92);
        Pages.push_back(Page);

        Page.Name = Design.Name + u'/' + Design.PhotoName;
        Page.Degraded = true;
        Page.Jpeg = EncodeJpeg(PhotographPage(Clean, Design.PixelSize, Design.Photo, Design.Seed),
                               Design.Quality);
        Pages.push_back(Page);
    }
    return Pages;
}
