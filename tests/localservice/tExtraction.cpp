// Extraction items and lab value extraction, against the real service.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "uLocalService.h"

namespace {

const QString kUser = QStringLiteral("demo@example.com:secret"); // keeps the default items
const QString kCatalog = QStringLiteral("lab@example.com:pw");   // items = the whole catalogue
const QString kEditor = QStringLiteral("editor@example.com:pw"); // items edited by the tests

using THeaders = TLocalService::THeaders;

const QStringList kDefaultNames{"AST", "ALT", "HDL-C", "LDL-C", "TG", "Cr", "BS", "HbA1c"};

} // namespace

class TExtractionTest : public QObject {
    Q_OBJECT

private:
    TLocalService FService;
    QString FUserToken, FCatalogToken, FEditorToken;

    TLocalService::TReply Send(const QByteArray& AMethod, const QString& APath,
                               const QString& AToken, const QByteArray& ABody = {}) {
        return FService.Call(
            AMethod, APath,
            {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + AToken.toUtf8()}},
            ABody);
    }

    QJsonObject GetItems(const QString& AToken) {
        const auto Reply = Send("GET", QStringLiteral("/api/extraction/items"), AToken);
        if (Reply.Status != 200) {
            qWarning() << "GET items:" << Reply.Status << Reply.Body;
        }
        return QJsonDocument::fromJson(Reply.Body).object();
    }

    QJsonObject Extract(const QString& AToken, const QString& AText) {
        const QByteArray Body =
            QJsonDocument(QJsonObject{{"text", AText}}).toJson(QJsonDocument::Compact);
        const auto Reply = Send("POST", QStringLiteral("/api/extraction/extract"), AToken, Body);
        if (Reply.Status != 200) {
            qWarning() << "extract:" << Reply.Status << Reply.Body;
        }
        return QJsonDocument::fromJson(Reply.Body).object();
    }

    static QStringList Names(const QJsonArray& AItems) {
        QStringList Result;
        for (const QJsonValue& Item : AItems) {
            Result << Item.toObject().value("name").toString();
        }
        return Result;
    }

private slots:
    void initTestCase() {
        TLocalService::TOptions Options;
        Options.Users << kCatalog << kEditor;
        QVERIFY(FService.Start(Options));
        FUserToken = FService.Token(kUser);
        FCatalogToken = FService.Token(kCatalog);
        FEditorToken = FService.Token(kEditor);

        const QJsonArray Catalog = GetItems(FCatalogToken).value("catalog").toArray();
        const QByteArray Body =
            QJsonDocument(QJsonObject{{"items", Catalog}}).toJson(QJsonDocument::Compact);
        QCOMPARE(Send("PUT", QStringLiteral("/api/extraction/items"), FCatalogToken, Body).Status,
                 200);
    }

    void accountsStartWithTheDefaultItems() {
        const QJsonObject Json = GetItems(FUserToken);
        const QJsonArray Items = Json.value("items").toArray();
        QCOMPARE(Names(Items), kDefaultNames);
        QCOMPARE(Items.at(0).toObject().value("aliases").toArray(),
                 (QJsonArray{"GOT", "AST(GOT)"}));

        const QJsonArray Catalog = Json.value("catalog").toArray();
        QVERIFY(Catalog.size() >= 30);
        QSet<QString> Seen;
        for (const QJsonValue& Entry : Catalog) {
            const QJsonObject Object = Entry.toObject();
            const QString Name = Object.value("name").toString();
            QVERIFY(!Name.isEmpty());
            QVERIFY2(!Seen.contains(Name), qPrintable(Name));
            Seen.insert(Name);
            QVERIFY(Object.value("aliases").isArray());
            for (const QJsonValue& Alias : Object.value("aliases").toArray()) {
                QVERIFY(Alias.isString() && !Alias.toString().isEmpty());
            }
        }
        for (const QString& Name : kDefaultNames) {
            QVERIFY2(Seen.contains(Name), qPrintable(Name));
        }
    }

    void putReplacesOnlyThatAccountsItems() {
        const QByteArray Body =
            R"({"items":[{"name":"尿酸","aliases":["UA"]},{"name":"AST","aliases":[]}]})";
        const auto Put = Send("PUT", QStringLiteral("/api/extraction/items"), FEditorToken, Body);
        QCOMPARE(Put.Status, 200);

        const QJsonArray Items = GetItems(FEditorToken).value("items").toArray();
        QCOMPARE(Names(Items), (QStringList{"尿酸", "AST"}));
        QCOMPARE(Items.at(0).toObject().value("aliases").toArray(), QJsonArray{"UA"});
        QCOMPARE(Names(GetItems(FUserToken).value("items").toArray()), kDefaultNames);

        // The new list is what extraction looks for.
        const QJsonArray Results =
            Extract(FEditorToken, "UA 7.8 mg/dL\nALT 30").value("results").toArray();
        QCOMPARE(Results.size(), 1);
        QCOMPARE(Results.at(0).toObject().value("name").toString(), QStringLiteral("尿酸"));

        QCOMPARE(
            Send("PUT", QStringLiteral("/api/extraction/items"), FEditorToken, R"({"items":[]})")
                .Status,
            200);
        QVERIFY(GetItems(FEditorToken).value("items").toArray().isEmpty());
    }

    // An item found through one label keeps its value when another item's label shows up;
    // items that share a label each take that label's first value.
    void itemsSharingALabel() {
        const QByteArray Items =
            R"({"items":[{"name":"AST","aliases":[]},)"
            R"({"name":"GOT","aliases":["AST"]},{"name":"AST","aliases":[]}]})";
        QCOMPARE(Send("PUT", QStringLiteral("/api/extraction/items"), FEditorToken, Items).Status,
                 200);
        QStringList Actual;
        const QJsonObject Json = Extract(FEditorToken, QStringLiteral("GOT 40\nAST 25\nAST 30"));
        for (const QJsonValue& Value : Json.value("results").toArray()) {
            const QJsonObject R = Value.toObject();
            Actual << R.value("name").toString() + u'|' + R.value("value").toString();
        }
        QCOMPARE(Actual, (QStringList{"AST|25", "GOT|40", "AST|25"}));
        QCOMPARE(
            Send("PUT", QStringLiteral("/api/extraction/items"), FEditorToken, R"({"items":[]})")
                .Status,
            200);
    }

    void putRejectsMalformedItems_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("lastLoc");

        QTest::newRow("not JSON") << QByteArray("items=1") << QStringLiteral("body");
        QTest::newRow("array at top")
            << QByteArray(R"([{"name":"A","aliases":[]}])") << QStringLiteral("body");
        QTest::newRow("items missing") << QByteArray(R"({"list":[]})") << QStringLiteral("items");
        QTest::newRow("items is an object")
            << QByteArray(R"({"items":{"name":"A"}})") << QStringLiteral("items");
        QTest::newRow("element is a string")
            << QByteArray(R"({"items":["A"]})") << QStringLiteral("0");
        QTest::newRow("name missing")
            << QByteArray(R"({"items":[{"aliases":[]}]})") << QStringLiteral("name");
        QTest::newRow("name is a number")
            << QByteArray(R"({"items":[{"name":5,"aliases":[]}]})") << QStringLiteral("name");
        QTest::newRow("name is blank")
            << QByteArray(R"({"items":[{"name":"  ","aliases":[]}]})") << QStringLiteral("name");
        QTest::newRow("aliases missing")
            << QByteArray(R"({"items":[{"name":"A"}]})") << QStringLiteral("aliases");
        QTest::newRow("aliases is text")
            << QByteArray(R"({"items":[{"name":"A","aliases":"B, C"}]})")
            << QStringLiteral("aliases");
        QTest::newRow("alias is null")
            << QByteArray(R"({"items":[{"name":"A","aliases":["B",null]}]})")
            << QStringLiteral("1");
    }

    void putRejectsMalformedItems() {
        QFETCH(QByteArray, body);
        QFETCH(QString, lastLoc);

        const auto Reply = Send("PUT", QStringLiteral("/api/extraction/items"), FUserToken, body);
        QCOMPARE(Reply.Status, 422);
        const QJsonArray Detail =
            QJsonDocument::fromJson(Reply.Body).object().value("detail").toArray();
        QVERIFY(!Detail.isEmpty());
        const QJsonValue Last = Detail.first().toObject().value("loc").toArray().last();
        QCOMPARE(Last.isDouble() ? QString::number(Last.toInt()) : Last.toString(), lastLoc);
        QCOMPARE(Names(GetItems(FUserToken).value("items").toArray()), kDefaultNames);
    }

    void extractRejectsMalformedRequests_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");

        QTest::newRow("not JSON") << QByteArray("text=AST 25") << 422;
        QTest::newRow("text missing") << QByteArray(R"({"txt":"AST 25"})") << 422;
        QTest::newRow("text is a number") << QByteArray(R"({"text":25})") << 422;
        QTest::newRow("array") << QByteArray(R"(["AST 25"])") << 422;
        QTest::newRow("invalid UTF-8") << QByteArray("{\"text\":\"AST \xff 25\"}") << 422;
        QTest::newRow("text over 1 MiB")
            << "{\"text\":\"" + QByteArray(1024 * 1024 + 1, 'a') + "\"}" << 413;
        QTest::newRow("text over 256 KiB")
            << "{\"text\":\"" + QByteArray(256 * 1024 + 1, 'a') + "\"}" << 413;
        // Refused by its size before it is parsed, though the text in it is short.
        QTest::newRow("body over 2 MiB")
            << "{\"text\":\"AST 25\"" + QByteArray(2 * 1024 * 1024, ' ') + "}" << 413;
    }

    void extractRejectsMalformedRequests() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const auto Reply =
            Send("POST", QStringLiteral("/api/extraction/extract"), FUserToken, body);
        QCOMPARE(Reply.Status, status);
        QVERIFY(QJsonDocument::fromJson(Reply.Body).object().contains("detail"));
    }

    // Each expected row is "name|value|unit|reference|flag", in the order of the items.
    void extractValues_data() {
        QTest::addColumn<bool>("catalog"); // false: the default items
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("columns separated by blanks")
            << false
            << QStringLiteral("項目名      結果   単位   基準値\nAST(GOT)    25     U/L    "
                              "13-30\nALT(GPT)    52  H  U/L    10-42")
            << QStringList{"AST|25|U/L|13-30|", "ALT|52|U/L|10-42|H"};
        QTest::newRow("full-width digits, letters and blanks")
            << false
            << QStringLiteral("ＨｂＡ１ｃ　６．２　％　４．６－６．２\n中性脂肪　１５２　ｍｇ／ｄＬ"
                              "　３０～１４９　Ｈ")
            << QStringList{"TG|152|mg/dL|30-149|H", "HbA1c|6.2|%|4.6-6.2|"};
        QTest::newRow("tab separated")
            << false
            << QStringLiteral("LDLコレステロール\t145\tmg/dL\t65-139\tH\nHDLコレステロール\t38\tmg/"
                              "dL\t40-90\tL")
            << QStringList{"HDL-C|38|mg/dL|40-90|L", "LDL-C|145|mg/dL|65-139|H"};
        QTest::newRow("arrows and starred flags")
            << false
            << QStringLiteral("血糖 126 ↑ mg/dL 73-109\nクレアチニン 0.45 *L mg/dL 0.46-0.79")
            << QStringList{"Cr|0.45|mg/dL|0.46-0.79|L", "BS|126|mg/dL|73-109|H"};
        QTest::newRow("value keeps its literal text")
            << false << QStringLiteral("クレアチニン(血清)  0.80  mg/dL  0.46-0.79  H")
            << QStringList{"Cr|0.80|mg/dL|0.46-0.79|H"};
        QTest::newRow("flag and unit attached to the value")
            << false << QStringLiteral("AST 35H U/L 13-30\n血糖 98mg/dL (73-109)")
            << QStringList{"AST|35|U/L|13-30|H", "BS|98|mg/dL|73-109|"};
        QTest::newRow("a digit misread as a letter leaves no value")
            << false
            << QStringLiteral(
                   "LDL-C 12S mg/dL\nHbA1c S.8 %\nTG 1O0 mg/dL\nALT 3]5 U/L\nAST 35H U/L\n"
                   "BS 9l\nCK 12I U/L\nLD 3] U/L\nHDL-C 4! mg/dL\nCr 1,2S\n"
                   "白血球数 6,5OO /μL\n前回 LDL-C 140 ALT 40 TG 120")
            << QStringList{"AST|35|U/L||H"};
        // Put back only where one place for the point alone makes a possible value: "112"
        // for Cr may be 1.12 or 11.2 (renal failure), so it gives none, and no later line
        // stands in for it.
        QTest::newRow("a decimal point lost where the layout prints decimals")
            << true
            << QStringLiteral(
                   "クレアチニン 112 mg/dL (0.46-0.79) H\nHbA1c 58 % 4.6-6.2\n"
                   "アルブミン 25 g/dL 4.1-5.1\nカリウム 21 mmol/L (3.G-4.8)\nAST 35 U/L 13-30\n"
                   "前回 Cr 0.52 HbA1c 5.6")
            << QStringList{"AST|35|U/L|13-30|", "アルブミン|2.5|g/dL|4.1-5.1|",
                           "カリウム|2.1|mmol/L||", "HbA1c|5.8|%|4.6-6.2|"};
        // The values a doctor must see: far outside the range, yet possible as printed.
        QTest::newRow("markedly abnormal values stand as printed")
            << true
            << QStringLiteral("BUN 72 mg/dL 8.0-20.0 H\nAST 1250 U/L 13.0-30.0 H\n"
                              "クレアチニン 3 mg/dL 0.46-0.79 H\nCRP 35.2 mg/dL 0.00-0.14 H")
            << QStringList{"AST|1250|U/L|13.0-30.0|H", "尿素窒素|72|mg/dL|8.0-20.0|H",
                           "Cr|3|mg/dL|0.46-0.79|H", "CRP|35.2|mg/dL|0.00-0.14|H"};
        QTest::newRow("a whole number near a range with decimals")
            << false << QStringLiteral("Cr 1 mg/dL 0.46-0.79\nHbA1c 15 % 4.6-6.2")
            << QStringList{"Cr|1|mg/dL|0.46-0.79|", "HbA1c|15|%|4.6-6.2|"};
        // No placement of a point makes these possible, or more than the layout tells is
        // needed to choose one: no value rather than a guess.
        QTest::newRow("impossible values give no value")
            << true
            << QStringLiteral("HbA1c 580 % 4.6-6.2\nナトリウム 14 mmol/L 138-145\n"
                              "Cr 0.0008 mg/dL 0.46-0.79\nカリウム 4.1 mmol/L\n"
                              "TG 3 mg/dL\nアルブミン 45 g/dL")
            << QStringList{"カリウム|4.1|mmol/L||"};
        QTest::newRow("digits beside a misread unit or a lost point")
            << true
            << QStringLiteral("HDLコレステロール 4 maxt (40-96)\nヘモグロビン 5. g/dL (11.6-14.8)\n"
                              "アルブミン 25 g/dl. (4.1-5.1)\nAST 25 IU/l\n"
                              "白血球数 5.2 ×10³/uL\nLDLコレステロール 128 mig/dL (70-139)\n"
                              "尿素窒素 45 ng日, (8.0-20.0)\n尿酸 25 ng日, (2.1-7.0)\nHbA1c 7.2H%")
            << QStringList{"AST|25|IU/l||",
                           "アルブミン|2.5|g/dl.|4.1-5.1|",
                           "尿素窒素|45|ng日,|8.0-20.0|",
                           "LDL-C|128|mig/dL|70-139|",
                           "HbA1c|7.2|%||H",
                           "白血球数|5.2|×10³/uL||"};
        // Several results in a row: the header tells which is today's.
        QTest::newRow("a cumulative table, oldest first")
            << true
            << QStringLiteral("項目 2024/06/04 2024/08/27 2024/11/05 単位 基準値\n"
                              "AST 58 44 31 U/L 13-30\nCr 0.71 0.69 0.70 mg/dL 0.46-0.79\n"
                              "ALT 77 29 U/L 10-42")
            << QStringList{"AST|31|U/L|13-30|", "Cr|0.70|mg/dL|0.46-0.79|"};
        // A date misread in the header ("2024/01/05" for 11/05) would move today's column.
        QTest::newRow("a cumulative header with its dates out of order")
            << true
            << QStringLiteral("項目 2024/06/04 2024/08/27 2024/01/05 単位 基準値\n"
                              "AST 58 44 31 U/L 13-30\nALT 29 U/L 10-42")
            << QStringList{"ALT|29|U/L|10-42|"};
        QTest::newRow("today's result, then the previous one")
            << true
            << QStringLiteral("項目 今回 前回 単位 基準値\nAST 35 H 41 H U/L 13-30\n"
                              "ALT 48 U/L 10-42")
            << QStringList{"AST|35|U/L|13-30|H", "ALT|48|U/L|10-42|"};
        QTest::newRow("the previous result first")
            << true
            << QStringLiteral("検査項目 前回値 今回値 基準値\nAST 41 35 13-30\nALT 48 10-42\n"
                              "項目 結果 単位 基準値\nTG 120 mg/dL 30-149")
            << QStringList{"AST|35||13-30|", "TG|120|mg/dL|30-149|"};
        QTest::newRow("results side by side that no header explains")
            << true
            << QStringLiteral("AST 58 44 31 U/L 13-30\nALP 130 。 101 。 95UL 38-113\n"
                              "ALT 29 U/L 10-42")
            << QStringList{"ALT|29|U/L|10-42|"};
        QTest::newRow("a header of one result column")
            << true
            << QStringLiteral("項目 結果 単位 基準値\n尿蛋白 (2+) (-)\nHbA1c 6.4 96 4.9-6.0\n"
                              "尿糖 (-) (-)")
            << QStringList{"HbA1c|6.4|||", "尿蛋白|(2+)|||", "尿糖|(-)|||"};
        QTest::newRow("the same without a header")
            << true << QStringLiteral("尿蛋白 (2+) (-)\nHbA1c 6.4 96 4.9-6.0\n尿糖 (-)")
            << QStringList{"尿糖|(-)|||"};
        QTest::newRow("a speck between today's and the previous result")
            << true
            << QStringLiteral("項目 今回 前回 単位 基準値\nALT 48 - 52 U/L 1042\n"
                              "AST 35 41 U/L 13-30")
            << QStringList{"AST|35|U/L|13-30|"};
        QTest::newRow("the reference column before the result")
            << true
            << QStringLiteral("CRP 0.14以下 0.08 mg/dL\neGFR (60以上) 72.4 mL/min/1.73m²\n"
                              "HbA1c 4.9-6.0 5.7 %")
            << QStringList{"eGFR|72.4|mL/min/1.73m²|60以上|", "HbA1c|5.7|%|4.9-6.0|",
                           "CRP|0.08|mg/dL|0.14以下|"};
        QTest::newRow("a range run into the unit or the value")
            << true
            << QStringLiteral("Na：141 mEq/L（138-145）\neGFR：55.3 mL/min/1.73m²（60以上）L\n"
                              "AST 25(13-30)")
            << QStringList{"AST|25||13-30|", "eGFR|55.3|mL/min/1.73m²|60以上|L",
                           "ナトリウム|141|mEq/L|138-145|"};
        // A slashed zero read as 9 turns "0.00-0.14" into "9.99-9.14": that line's value is as
        // misread as its range, and on a page with several such lines every number is.
        // "45 ↑" read as 451: with no flag read and 45 high too, either may be printed.
        QTest::newRow("an arrow read as a last digit")
            << true
            << QStringLiteral("ALT 451 U/L 10-42\nγ-GTP 711 U/L 13-64\nBS 1111 mg/dL 73-109\n"
                              "AST 451 U/L 13-30 H\nLD 121 U/L 124-222\nCK 1250 U/L 59-248")
            << QStringList{"AST|451|U/L|13-30|H", "LD|121|U/L|124-222|", "CK|1250|U/L|59-248|"};
        QTest::newRow("a range read high to low")
            << true << QStringLiteral("CRP 9.21 mg/dL 9.99-9.14 H\nAST 25 U/L 13-30")
            << QStringList{"AST|25|U/L|13-30|"};
        QTest::newRow("a page read with one digit for another")
            << true
            << QStringLiteral("CRP 9.21 mg/dL 9.99-9.14 H\n総ビリルビン 1.9 mg/dL 9.4-1.5\n"
                              "アルブミン 4.9 g/dL 4.1-5.1\n尿蛋白 (-)")
            << QStringList{"尿蛋白|(-)|||"};
        QTest::newRow("a thousands separator read as a point")
            << true
            << QStringLiteral("白血球数 4.200 /μL 3,300〜8,600\nAST 1.250 U/L\n"
                              "血小板数 4.200 万/μL\n赤血球数 4.200 10^6/μL 3.86-4.92")
            << QStringList{"赤血球数|4.200|10^6/μL|3.86-4.92|", "血小板数|4.200|万/μL||"};
        QTest::newRow("a thousand times below its own range")
            << true
            << QStringLiteral("白血球数 4 10^2/μL 3,300-8,600\nフェリチン 0.05 ng/mL 25-250")
            << QStringList{};
        QTest::newRow("a test outside the catalogue keeps what is printed")
            << false << QStringLiteral("Cr 0.8 mg/dL\nシスタチンC 112 mg/L 0.56-0.87")
            << QStringList{"Cr|0.8|mg/dL||"};
        // The neighbouring column's name was not recognised: its range and unit are not
        // this test's, and this test's value is not judged by them.
        QTest::newRow("the next column is another test's")
            << false
            << QStringLiteral("AST 25 U/L ｶﾘｳﾑ 4.1 mmol/L 3.6-4.8\n"
                              "血糖 98 mg/dL 尿酸 5.2 mg/dL 2.1-7.0\n"
                              "ALT 18 U/L 10-42 22\nTG 120 mg/dL 基準値 30-149\n"
                              "HbA1c 6.1 (NGSP) % 4.6-6.2")
            << QStringList{"AST|25|U/L||", "ALT|18|U/L|10-42|", "TG|120|mg/dL|30-149|",
                           "BS|98|mg/dL||", "HbA1c|6.1|%|4.6-6.2|"};
        QTest::newRow("a table rule beside a value")
            << false << QStringLiteral("AST 12| U/L\nALT 15|| U/L")
            << QStringList{"AST|12|U/L||", "ALT|15|U/L||"};
        QTest::newRow("flag attached to the range")
            << false << QStringLiteral("HbA1c 6.4% 4.9-6.0H\nAST 10 U/L 13-30L")
            << QStringList{"AST|10|U/L|13-30|L", "HbA1c|6.4|%|4.9-6.0|H"};
        QTest::newRow("flag before the value, range with blanks")
            << false << QStringLiteral("TG  H 188  mg/dL  30 〜 149")
            << QStringList{"TG|188|mg/dL|30-149|H"};
        QTest::newRow("two tests on one line")
            << false << QStringLiteral("AST 25 U/L 13-30    ALT 18 U/L 10-42")
            << QStringList{"AST|25|U/L|13-30|", "ALT|18|U/L|10-42|"};
        QTest::newRow("an alias names the item")
            << false
            << QStringLiteral("GOT 30 IU/L\nヘモグロビンA1c(NGSP) 5.6 %\nグルコース: 101 mg/dL")
            << QStringList{"AST|30|IU/L||", "BS|101|mg/dL||", "HbA1c|5.6|%||"};
        QTest::newRow("results follow the order of the items")
            << false << QStringLiteral("HbA1c 5.9 %\nALT 20 U/L\nAST 22 U/L")
            << QStringList{"AST|22|U/L||", "ALT|20|U/L||", "HbA1c|5.9|%||"};
        QTest::newRow("first value of an item wins")
            << false << QStringLiteral("AST 25 U/L\nAST 99 U/L") << QStringList{"AST|25|U/L||"};
        QTest::newRow("labels inside longer words are not matches")
            << false
            << QStringLiteral(
                   "CRP 0.12 mg/dL\nCRE 0.8 mg/dL\nnon-HDLコレステロールではない\nHbA1cX 5")
            << QStringList{};
        QTest::newRow("a label without a value is skipped")
            << false << QStringLiteral("AST ALT HbA1c\nAST 17") << QStringList{"AST|17|||"};
        QTest::newRow("nothing to find")
            << false << QStringLiteral("診察のご案内\n次回 来院してください") << QStringList{};
        QTest::newRow("one-sided references")
            << true << QStringLiteral("eGFR 65.3 mL/min/1.73m2 ≧60\nCRP <0.03 mg/dL 0.14以下")
            << QStringList{"eGFR|65.3|mL/min/1.73m2|≧60|", "CRP|<0.03|mg/dL|0.14以下|"};
        QTest::newRow("thousands separators and counts")
            << true
            << QStringLiteral("白血球数 6,500 /μL 3,300-8,600\n血小板数 23.4 万/μL 15.8〜34.8")
            << QStringList{"白血球数|6,500|/μL|3,300-8,600|", "血小板数|23.4|万/μL|15.8-34.8|"};
        QTest::newRow("qualitative results") << true << QStringLiteral("尿蛋白 (-)\n尿糖 陰性")
                                             << QStringList{"尿蛋白|(-)|||", "尿糖|陰性|||"};
        QTest::newRow("long names are preferred over short aliases")
            << true
            << QStringLiteral(
                   "総コレステロール 210 mg/dL 142-248\nLDL-C 120 mg/dL\nγ－ＧＴＰ 45 U/L 13-64")
            << QStringList{"γ-GTP|45|U/L|13-64|", "総コレステロール|210|mg/dL|142-248|",
                           "LDL-C|120|mg/dL||"};
        QTest::newRow("recognition misreadings") << true << QStringLiteral("y-GTP 80 U/L 13-64 H")
                                                 << QStringList{"γ-GTP|80|U/L|13-64|H"};
    }

    void extractValues() {
        QFETCH(bool, catalog);
        QFETCH(QString, text);
        QFETCH(QStringList, expected);

        const QJsonObject Json = Extract(catalog ? FCatalogToken : FUserToken, text);
        QVERIFY(Json.value("results").isArray());
        QStringList Actual;
        for (const QJsonValue& Value : Json.value("results").toArray()) {
            const QJsonObject R = Value.toObject();
            QStringList Fields;
            for (const char* Member : {"name", "value", "unit", "reference", "flag"}) {
                QVERIFY2(R.value(Member).isString(), Member);
                Fields << R.value(Member).toString();
            }
            Actual << Fields.join(u'|');
        }
        QCOMPARE(Actual, expected);
    }

    // Names as recognition misreads them find their own item; names of other tests that look
    // alike never do. Each expected row is "name|value|unit", with the whole catalogue.
    void misreadNames_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("l for 1") << QStringLiteral("HbAlc 6.4 %") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("I for 1") << QStringLiteral("HbAIc 6.4 %") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("bar for 1") << QStringLiteral("HbA|c 6.4 %") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("backslash and I for 1")
            << QStringLiteral("HbA\\Ic 6.4 %") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("I for l") << QStringLiteral("AIT(GPT) 31 U/L") << QStringList{"ALT|31|U/L"};
        QTest::newRow("1 for l") << QStringLiteral("HD1-C 52 mg/dL")
                                 << QStringList{"HDL-C|52|mg/dL"};
        QTest::newRow("0 for O") << QStringLiteral("G0T 24 U/L") << QStringList{"AST|24|U/L"};
        QTest::newRow("o for O") << QStringLiteral("T-Cho 210 mg/dL")
                                 << QStringList{"総コレステロール|210|mg/dL"};
        QTest::newRow("y for γ") << QStringLiteral("y-GTP 88 U/L") << QStringList{"γ-GTP|88|U/L"};
        QTest::newRow("Y for γ, no dash")
            << QStringLiteral("YGTP 88 U/L") << QStringList{"γ-GTP|88|U/L"};
        QTest::newRow("long sound mark for dash")
            << QStringLiteral("γーGTP 88 U/L") << QStringList{"γ-GTP|88|U/L"};
        QTest::newRow("dash variants") << QStringLiteral("T‐Bil 0.8 mg/dL\nLDL−C 120 mg/dL")
                                       << QStringList{"総ビリルビン|0.8|mg/dL", "LDL-C|120|mg/dL"};
        QTest::newRow("blank inside a name") << QStringLiteral("Hb A1c 6.4 %\nγ GTP 88 U/L")
                                             << QStringList{"γ-GTP|88|U/L", "HbA1c|6.4|%"};
        QTest::newRow("blank inside a Japanese name")
            << QStringLiteral("ヘモグロビン A1c 6.4 %\n中性 脂肪 152 mg/dL")
            << QStringList{"TG|152|mg/dL", "HbA1c|6.4|%"};
        QTest::newRow("full-width misreading")
            << QStringLiteral("ＨｂＡｌｃ　６．４　％") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("half-width katakana")
            << QStringLiteral("ｸﾚｱﾁﾆﾝ 0.80 mg/dL\nﾍﾓｸﾞﾛﾋﾞﾝA1c 6.4 %")
            << QStringList{"Cr|0.80|mg/dL", "HbA1c|6.4|%"};
        QTest::newRow("6 for G") << QStringLiteral("T6 210 H mg/dL") << QStringList{"TG|210|mg/dL"};
        QTest::newRow("hiragana for katakana")
            << QStringLiteral("へモグロビンAlc 5.8 % (4.6-6.2)") << QStringList{"HbA1c|5.8|%"};
        QTest::newRow("kanji for katakana")
            << QStringLiteral("クレアチ二ン 0.84 mg/dL\nト口ポニン 0.01")
            << QStringList{"Cr|0.84|mg/dL"};
        QTest::newRow("kanji misread for 糖") << QStringLiteral("血精 112 mg/dL\n尿縛 (-)")
                                              << QStringList{"BS|112|mg/dL", "尿糖|(-)|"};
        QTest::newRow("柄 for 糖") << QStringLiteral("血柄 98 mg/dL") << QStringList{"BS|98|mg/dL"};
        QTest::newRow("misread names on one line")
            << QStringLiteral("AST 24 U/L  AIT 31 U/L  y-GTP 88 U/L")
            << QStringList{"AST|24|U/L", "ALT|31|U/L", "γ-GTP|88|U/L"};

        QTest::newRow("AST is not ALT")
            << QStringLiteral("AST 24 U/L") << QStringList{"AST|24|U/L"};
        QTest::newRow("ALT is not AST")
            << QStringLiteral("ALT 31 U/L") << QStringList{"ALT|31|U/L"};
        QTest::newRow("Hb is not HbA1c")
            << QStringLiteral("Hb 14.2 g/dL") << QStringList{"ヘモグロビン|14.2|g/dL"};
        QTest::newRow("HbA1c is not Hb")
            << QStringLiteral("HbAlc 6.4 %") << QStringList{"HbA1c|6.4|%"};
        QTest::newRow("a cut name is no name")
            << QStringLiteral("HbA 6.4 %\nA5T 24 U/L") << QStringList{};
        QTest::newRow("BS is not BUN") << QStringLiteral("BUN 15 mg/dL\nBS 98 mg/dL")
                                       << QStringList{"尿素窒素|15|mg/dL", "BS|98|mg/dL"};
        QTest::newRow("LD, LDH and LDL") << QStringLiteral("LDL 120 mg/dL\nLDH 180 U/L")
                                         << QStringList{"LD|180|U/L", "LDL-C|120|mg/dL"};
        QTest::newRow("a value is not read into a name")
            << QStringLiteral("LD 1.5 U/L") << QStringList{"LD|1.5|U/L"};
        QTest::newRow("a value right after a name is not read into it")
            << QStringLiteral("LD150 U/L") << QStringList{"LD|150|U/L"};
        QTest::newRow("MCH is not MCHC") << QStringLiteral("MCHC 33.0 %\nMCH 30.1 pg")
                                         << QStringList{"MCH|30.1|pg", "MCHC|33.0|%"};
        QTest::newRow("tumour markers are not Ca")
            << QStringLiteral("CA 19-9 12.0 U/mL\nCA 125 8 U/mL\nCA15-3 9 U/mL\nCA 72-4 3.1 U/mL\n"
                              "CA 1.5\nCa 9.2 mg/dL")
            << QStringList{"カルシウム|9.2|mg/dL", "CA19-9|12.0|U/mL", "CA125|8|U/mL",
                           "CA15-3|9|U/mL", "CA72-4|3.1|U/mL"};
        QTest::newRow("NA is not Na")
            << QStringLiteral("NA 140\nNa 141") << QStringList{"ナトリウム|141|"};
        QTest::newRow("CRP is not Cr")
            << QStringLiteral("CRP 0.12 mg/dL") << QStringList{"CRP|0.12|mg/dL"};
        QTest::newRow("a value starting with 6 is not a name")
            << QStringLiteral("ALT 61 U/L\nAST 61U/L\nCK 6lU/L")
            // "6lU/L" is 61 with its 1 read as l: CK is found, and gives no value rather than 6.
            << QStringList{"AST|61|U/L", "ALT|61|U/L"};
        QTest::newRow("a 6 beside a name is a value")
            << QStringLiteral("TG6 mg/dL\nCr 6") << QStringList{"Cr|6|", "TG|6|mg/dL"};
        QTest::newRow("血清 is not 血糖")
            << QStringLiteral("血清 112 mg/dL\n血清鉄 80 μg/dL") << QStringList{"血清鉄|80|μg/dL"};
        QTest::newRow("ID is not LD")
            << QStringLiteral("患者ID 0123\nID: 4567\nI-D 33\nＩＤ 89\nLD 180")
            << QStringList{"LD|180|"};
        QTest::newRow("I for l in a two-letter name")
            << QStringLiteral("CI 102 mmol/L\nＣＩ 103") << QStringList{"クロール|102|mmol/L"};
        QTest::newRow("one-letter words are not a name")
            << QStringLiteral("T B 0.8\nB S 98") << QStringList{};
        QTest::newRow("a misread letter does not end a name early")
            << QStringLiteral("Crl 0.8\nHbl 14.2") << QStringList{};
    }

    void misreadNames() {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);

        QStringList Actual;
        for (const QJsonValue& Value : Extract(FCatalogToken, text).value("results").toArray()) {
            const QJsonObject R = Value.toObject();
            Actual << R.value("name").toString() + u'|' + R.value("value").toString() + u'|' +
                          R.value("unit").toString();
        }
        QCOMPARE(Actual, expected);
    }

    // However confusions are folded, no two tests of the catalogue come to share a name.
    void everyCatalogueNameFindsOnlyItsItem() {
        const QJsonArray Catalog = GetItems(FCatalogToken).value("catalog").toArray();
        for (const QJsonValue& Entry : Catalog) {
            const QJsonObject Item = Entry.toObject();
            const QString Name = Item.value("name").toString();
            QStringList Labels{Name};
            for (const QJsonValue& Alias : Item.value("aliases").toArray()) {
                Labels << Alias.toString();
            }
            for (const QString& Label : Labels) {
                // A result that no test's limits judge: the name is what is tested here.
                const QJsonArray Results = Extract(FCatalogToken, Label + QStringLiteral(" (+)"))
                                               .value("results")
                                               .toArray();
                QVERIFY2(Results.size() == 1, qPrintable(Label));
                const QString Found = Results.at(0).toObject().value("name").toString();
                QVERIFY2(Found == Name, qPrintable(Label + QStringLiteral(" finds ") + Found));
                QCOMPARE(Results.at(0).toObject().value("value").toString(), QStringLiteral("(+)"));
            }
        }
    }

    void examDate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("date"); // empty: null

        QTest::newRow("slashes") << QStringLiteral("採取日 2024/05/01")
                                 << QStringLiteral("2024-05-01");
        QTest::newRow("hyphens without zeros")
            << QStringLiteral("検査日: 2024-5-1") << QStringLiteral("2024-05-01");
        QTest::newRow("kanji") << QStringLiteral("2024年5月1日 受付")
                               << QStringLiteral("2024-05-01");
        QTest::newRow("full-width")
            << QStringLiteral("採血日　２０２４／０５／０１") << QStringLiteral("2024-05-01");
        QTest::newRow("Reiwa letter")
            << QStringLiteral("採取 R6.5.1") << QStringLiteral("2024-05-01");
        QTest::newRow("Reiwa kanji")
            << QStringLiteral("令和6年5月1日") << QStringLiteral("2024-05-01");
        QTest::newRow("first Reiwa year")
            << QStringLiteral("令和元年5月1日") << QStringLiteral("2019-05-01");
        QTest::newRow("Heisei letter")
            << QStringLiteral("H31.4.30 採取") << QStringLiteral("2019-04-30");
        QTest::newRow("Heisei kanji")
            << QStringLiteral("平成31年4月30日") << QStringLiteral("2019-04-30");
        QTest::newRow("birth date is not the exam date")
            << QStringLiteral("生年月日 1960/01/02\n検体採取日 2024/05/01")
            << QStringLiteral("2024-05-01");
        QTest::newRow("sampling date wins over report date")
            << QStringLiteral("報告日 2024/05/03\n採取日 2024/05/01")
            << QStringLiteral("2024-05-01");
        QTest::newRow("otherwise the first date")
            << QStringLiteral("受付 2024/05/02\n報告 2024/05/03") << QStringLiteral("2024-05-02");
        QTest::newRow("the sampling date after the report date on its line")
            << QStringLiteral("報告日 2024/11/20 採取日 2024/11/18")
            << QStringLiteral("2024-11-18");
        QTest::newRow("a culture reported weeks later")
            << QStringLiteral("採取日 2024/10/01\n報告日 2024/11/20")
            << QStringLiteral("2024-10-01");
        QTest::newRow("the birth date on the sampling date's line")
            << QStringLiteral("受診日 2024年7月9日　生年月日 1979年2月28日\n報告日 2024年7月16日")
            << QStringLiteral("2024-07-09");
        QTest::newRow("the previous visit's date")
            << QStringLiteral("採血日 2024年11月5日　前回 2024年8月6日")
            << QStringLiteral("2024-11-05");
        QTest::newRow("the previous sampling date")
            << QStringLiteral("前回採血日 2024/08/06\n採血日 2024/11/05")
            << QStringLiteral("2024-11-05");
        QTest::newRow("impossible date") << QStringLiteral("2024/13/45") << QString();
        QTest::newRow("a birth date whose caption was misread")
            << QStringLiteral("氏名 千年月日昭和58年6月1日") << QString();
        QTest::newRow("a date in the future")
            << QStringLiteral("採取日 %1")
                   .arg(QDate::currentDate().addMonths(2).toString(QStringLiteral("yyyy/MM/dd")))
            << QString();
        // Beside words no caption explains, a date may be any date: the previous visit's here.
        QTest::newRow("a date beside a garbled caption")
            << QStringLiteral("Rin 2024811558 削回 2024年5月6日\n山本様") << QString();
        // Not sure: no date rather than another one, or a month read wrongly.
        QTest::newRow("the sampling date unreadable")
            << QStringLiteral("報告日 2024/11/20\n採取日 2024/1l/18") << QString();
        QTest::newRow("the sampling date does not exist")
            << QStringLiteral("報告日 2024/03/01\n採取日 2024/02/30") << QString();
        QTest::newRow("two sampling dates disagree")
            << QStringLiteral("採取日 2024/11/18\n検体採取日 2024/11/19") << QString();
        QTest::newRow("months before the report date")
            << QStringLiteral("採取日 2024年1月5日\n報告日 2024年11月6日") << QString();
        QTest::newRow("after the report date")
            << QStringLiteral("採取日 2024/11/21  報告日 2024/11/20") << QString();
        QTest::newRow("phone number is no date") << QStringLiteral("TEL 0120-12-34") << QString();
        QTest::newRow("no date") << QStringLiteral("AST 25") << QString();
    }

    void examDate() {
        QFETCH(QString, text);
        QFETCH(QString, date);
        const QJsonValue Value = Extract(FUserToken, text).value("exam_date");
        if (date.isEmpty()) {
            QVERIFY(Value.isNull());
        } else {
            QCOMPARE(Value.toString(), date);
        }
    }

    void institution_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("institution"); // empty: null

        QTest::newRow("clinic line") << QStringLiteral("医療法人 山田クリニック\nAST 25")
                                     << QStringLiteral("医療法人 山田クリニック");
        QTest::newRow("caption and phone removed")
            << QStringLiteral("依頼元：さくら内科医院　TEL 03-1234-5678")
            << QStringLiteral("さくら内科医院");
        QTest::newRow("postal code removed")
            << QStringLiteral("〒100-0001 千代田病院") << QStringLiteral("千代田病院");
        QTest::newRow("clinic preferred over laboratory")
            << QStringLiteral("株式会社 日本臨床検査センター\nみなと診療所 御中")
            << QStringLiteral("みなと診療所");
        QTest::newRow("laboratory when no clinic")
            << QStringLiteral("株式会社 日本臨床検査センター")
            << QStringLiteral("株式会社 日本臨床検査センター");
        QTest::newRow("full-width letters")
            << QStringLiteral("ＡＢＣクリニック") << QStringLiteral("ABCクリニック");
        QTest::newRow("kanji date on its line")
            << QStringLiteral("さくら内科クリニック 2024年5月1日")
            << QStringLiteral("さくら内科クリニック");
        QTest::newRow("slashed date on its line")
            << QStringLiteral("さくら内科クリニック 2024/05/01")
            << QStringLiteral("さくら内科クリニック");
        QTest::newRow("era date on its line")
            << QStringLiteral("さくら内科クリニック　令和６年５月１日")
            << QStringLiteral("さくら内科クリニック");
        QTest::newRow("era letter date on its line")
            << QStringLiteral("さくら内科クリニック R6.5.1")
            << QStringLiteral("さくら内科クリニック");
        QTest::newRow("date caption on its line")
            << QStringLiteral("医療機関: 医療法人 山田クリニック 採取日: 2024-5-1")
            << QStringLiteral("医療法人 山田クリニック");
        QTest::newRow("date before the name")
            << QStringLiteral("2024/05/01 みなと病院") << QStringLiteral("みなと病院");
        QTest::newRow("phone after the name")
            << QStringLiteral("みなと病院 Tel:03-1234-5678") << QStringLiteral("みなと病院");
        QTest::newRow("patient after the name")
            << QStringLiteral("みなと病院 患者ID 000123") << QStringLiteral("みなと病院");
        QTest::newRow("columns after the name")
            << QStringLiteral("みなと病院    山田 太郎 様") << QStringLiteral("みなと病院");
        QTest::newRow("honorific and date") << QStringLiteral("さくら台クリニック 様 2024/05/01")
                                            << QStringLiteral("さくら台クリニック");
        QTest::newRow("none") << QStringLiteral("AST 25 U/L") << QString();
    }

    void institution() {
        QFETCH(QString, text);
        QFETCH(QString, institution);
        const QJsonValue Value = Extract(FUserToken, text).value("institution");
        if (institution.isEmpty()) {
            QVERIFY(Value.isNull());
        } else {
            QCOMPARE(Value.toString(), institution);
        }
    }

    void wholeReport() {
        const QString Report =
            QStringLiteral("臨床検査報告書\n"
                           "さくら台クリニック 様\n"
                           "患者ID 000123   生年月日 昭和35年1月2日\n"
                           "採取日 令和6年5月1日   報告日 令和6年5月2日\n"
                           "項目名            結果    単位     基準値\n"
                           "ＡＳＴ（ＧＯＴ）   ３２    Ｕ／Ｌ   １３－３０   Ｈ\n"
                           "ＡＬＴ（ＧＰＴ）   ２８    Ｕ／Ｌ   １０－４２\n"
                           "中性脂肪          １５２   ｍｇ／ｄＬ ３０－１４９ Ｈ\n"
                           "HbA1c(NGSP)      5.20    %        4.6-6.2\n"
                           "株式会社 みらい臨床検査センター  TEL 03-0000-0000\n");
        const QJsonObject Json = Extract(FUserToken, Report);
        QCOMPARE(Json.value("exam_date").toString(), QStringLiteral("2024-05-01"));
        QCOMPARE(Json.value("institution").toString(), QStringLiteral("さくら台クリニック"));
        const QJsonArray Results = Json.value("results").toArray();
        QCOMPARE(Names(Results), (QStringList{"AST", "ALT", "TG", "HbA1c"}));
        QCOMPARE(Results.at(3).toObject().value("value").toString(), QStringLiteral("5.20"));
        QCOMPARE(Results.at(0).toObject().value("flag").toString(), QStringLiteral("H"));
    }
};

QTEST_GUILESS_MAIN(TExtractionTest)
#include "tExtraction.moc"
