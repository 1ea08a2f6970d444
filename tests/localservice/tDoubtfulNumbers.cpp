// Numbers the readings of a page did not agree on: found in the merge, remembered with the
// text the receiver is given, and never handed on as a lab value.
#include <QtTest>

#include "extraction/uCatalog.h"
#include "extraction/uExtraction.h"
#include "reading/uReadingMerge.h"
#include "store/uRecentReadings.h"

Q_DECLARE_METATYPE(std::vector<TPageReading>)

namespace {

TLineReading Line(const char* AText, float AConfidence, int ATop) {
    return {AText, AConfidence, 10, ATop, 410, ATop + 30};
}

std::vector<TPageReading> Pages(std::initializer_list<std::vector<TLineReading>> ALines) {
    std::vector<TPageReading> Pages;
    for (const auto& Lines : ALines) {
        Pages.push_back({Lines, 80});
    }
    return Pages;
}

QStringList Flattened(const TDoubtfulNumbers& ADoubts) {
    QStringList Out;
    for (size_t i = 0; i < ADoubts.size(); ++i) {
        for (const std::string& Number : ADoubts[i]) {
            Out << QString::number(i) + u':' + QString::fromStdString(Number);
        }
    }
    return Out;
}

} // namespace

class TDoubtfulNumbersTest : public QObject {
    Q_OBJECT

private slots:
    void merge_data() {
        QTest::addColumn<std::vector<TPageReading>>("readings");
        QTest::addColumn<QStringList>("doubtful"); // "line:number"

        QTest::newRow("one reading has nothing to disagree with")
            << Pages({{Line("CRP 9.21 mg/dL", 70, 0)}}) << QStringList{};
        QTest::newRow("readings that agree")
            << Pages({{Line("CRP 0.21 mg/dL", 90, 0), Line("AST 25", 90, 40)},
                      {Line("CRP 0.21 mg/dL", 60, 0), Line("AST 25", 70, 40)}})
            << QStringList{};
        QTest::newRow("a digit read two ways")
            << Pages({{Line("CRP 9.21 mg/dL", 90, 0), Line("AST 25", 90, 40)},
                      {Line("CRP 0.21 mg/dL", 60, 0), Line("AST 25", 70, 40)}})
            << QStringList{"0:9.21"};
        QTest::newRow("a slip outvoted by two") << Pages({{Line("AST 25 U/L", 90, 0)},
                                                          {Line("AST 25 U/L", 90, 0)},
                                                          {Line("AST 25 U/L", 90, 0)},
                                                          {Line("AST 26 U/L", 90, 0)}})
                                                << QStringList{};
        QTest::newRow("a close vote is a guess")
            << Pages({{Line("AST 25 U/L", 90, 0)}, {Line("AST 26 U/L", 80, 0)}})
            << QStringList{"0:25"};
        QTest::newRow("a digit one reading left out")
            << Pages({{Line("HDL 45 mg/dL", 90, 0)}, {Line("HDL 4 mg/dL", 80, 0)}})
            << QStringList{"0:45"};
        QTest::newRow("a digit one reading added")
            << Pages({{Line("HDL 4 mg/dL", 90, 0)}, {Line("HDL 45 mg/dL", 80, 0)}})
            << QStringList{"0:4"};
        QTest::newRow("a point or a separator")
            << Pages({{Line("WBC 4.200", 90, 0)}, {Line("WBC 4,200", 80, 0)}})
            << QStringList{"0:4.200"};
        QTest::newRow("a letter outvoted by a digit")
            << Pages({{Line("TG 1O0 mg/dL", 90, 0)}, {Line("TG 100 mg/dL", 50, 0)}})
            << QStringList{"0:100"};
        QTest::newRow("disagreement outside numbers")
            << Pages({{Line("AST 25 U/L", 90, 0)}, {Line("A5T 25 UL", 80, 0)}}) << QStringList{};
    }

    void merge() {
        QFETCH(std::vector<TPageReading>, readings);
        QFETCH(QStringList, doubtful);
        const TMergedReading Merged = MergeReadingsWithDoubts(readings);
        QCOMPARE(Merged.DoubtfulNumbers.size(),
                 static_cast<size_t>(QString::fromStdString(Merged.Text).count(u'\n')));
        QCOMPARE(Flattened(Merged.DoubtfulNumbers), doubtful);
    }

    // The line and the number must both match: the same digits elsewhere are not doubted.
    void extraction() {
        const QString Text = QStringLiteral("検査結果\nCRP 9.21 mg/dL 0.00-0.14\nAST 25 U/L 13-30\n"
                                            "ALT 9.21 U/L\n");
        const TDoubtfulNumbers Doubts{{}, {"9.21"}, {"2"}, {}};
        const TExtraction Sure = ExtractLabValues(Text, CatalogItems());
        QCOMPARE(Sure.Results.size(), size_t(3));
        const TExtraction Doubted = ExtractLabValues(Text, CatalogItems(), &Doubts);
        QStringList Found;
        for (const TLabResult& R : Doubted.Results) {
            Found << R.Name + u'=' + R.Value;
        }
        QCOMPARE(Found, (QStringList{"AST=25", "ALT=9.21"}));
    }

    void remembered() {
        using namespace std::chrono;
        TRecentReadings Recent;
        const auto Start = TRecentReadings::TClock::now();
        const TDoubtfulNumbers Doubts{{"9.21"}};
        Recent.Remember("a", "CRP 9.21\nAST 25\n", Doubts, Start);
        // As the receiver sends it back, CR LF and all; only to its own account.
        QVERIFY(Recent.DoubtsOf("a", "CRP 9.21\r\nAST 25\r\n", Start) == Doubts);
        QVERIFY(!Recent.DoubtsOf("b", "CRP 9.21\nAST 25\n", Start));
        QVERIFY(!Recent.DoubtsOf("a", "CRP 9.21\nAST 26\n", Start));
        // Kept for an hour, and only the last few texts.
        QVERIFY(!Recent.DoubtsOf("a", "CRP 9.21\nAST 25\n", Start + minutes(61)));
        for (size_t i = 0; i < TRecentReadings::kTextsPerAccount; ++i) {
            Recent.Remember("a", "text " + std::to_string(i), {}, Start + seconds(1));
        }
        QVERIFY(!Recent.DoubtsOf("a", "CRP 9.21\nAST 25\n", Start + seconds(2)));
        QVERIFY(Recent.DoubtsOf("a", "text 0", Start + seconds(2)));
    }
};

QTEST_MAIN(TDoubtfulNumbersTest)
#include "tDoubtfulNumbers.moc"
