// Merging readings of one page made from differently prepared copies.
#include <QtTest>

#include "reading/uReadingMerge.h"

Q_DECLARE_METATYPE(std::vector<TPageReading>)

namespace {

// A line 400 x 30 pixels whose top is at ATop, moved AShift pixels right.
TLineReading Line(const char* AText, float AConfidence, int ATop, int AShift = 0) {
    return {AText, AConfidence, 10 + AShift, ATop, 410 + AShift, ATop + 30};
}

} // namespace

class TReadingMergeTest : public QObject {
    Q_OBJECT

private slots:
    void merge_data() {
        QTest::addColumn<std::vector<TPageReading>>("readings");
        QTest::addColumn<QString>("expected");

        QTest::newRow("nothing read") << std::vector<TPageReading>{} << QString();
        QTest::newRow("a page without lines") << std::vector<TPageReading>{{{}, 0}} << QString();
        QTest::newRow("one reading as it is")
            << std::vector<TPageReading>{{{Line("AST 25", 90, 0), Line("ALT 42", 80, 40)}, 85}}
            << QStringLiteral("AST 25\nALT 42\n");
        QTest::newRow("each line from the surer reading")
            << std::vector<TPageReading>{{{Line("AST 25", 95, 0), Line("ALT 4Z", 40, 40)}, 70},
                                         {{Line("A5T 25", 60, 0), Line("ALT 42", 90, 40)}, 75}}
            << QStringLiteral("AST 25\nALT 42\n");
        QTest::newRow("two readings agreeing outvote a surer third")
            << std::vector<TPageReading>{{{Line("HbA1c 6.4 %", 81, 0)}, 85},
                                         {{Line("HbA1c  6.4 %", 83, 0)}, 87},
                                         {{Line("HbA1c 64 %", 90, 0)}, 89}}
            << QStringLiteral("HbA1c 6.4 %\n");
        QTest::newRow("characters vote, each reading with its confidence")
            << std::vector<TPageReading>{{{Line("HbA1c 56 %", 90, 0)}, 90},
                                         {{Line("HbAlc 5.6 %", 80, 0)}, 80},
                                         {{Line("HbA1c 5.6 。%", 70, 0)}, 70}}
            << QStringLiteral("HbA1c 5.6 %\n");
        QTest::newRow("a digit other readings saw beats a letter inside a number")
            << std::vector<TPageReading>{{{Line("LDL 12S mg/dL S.8 3]5", 87, 0)}, 87},
                                         {{Line("LDL iCS mg/dL S.8 3]5", 73, 0)}, 73},
                                         {{Line("LDL 128 mg/dL 5.8 315", 88, 0)}, 60}}
            << QStringLiteral("LDL 128 mg/dL 5.8 315\n");
        QTest::newRow("one unsure reading of a digit does not turn a letter")
            << std::vector<TPageReading>{{{Line("B12 400 PT 11.5s", 90, 0)}, 90},
                                         {{Line("B12 400 PT 11.5s", 85, 0)}, 85},
                                         {{Line("812 400 PT 11.55", 30, 0)}, 30}}
            << QStringLiteral("B12 400 PT 11.5s\n");
        QTest::newRow("a stroke at a number's edge may be a table rule")
            << std::vector<TPageReading>{{{Line("AST |35| U/L", 90, 0)}, 90},
                                         {{Line("AST 1351 U/L", 85, 0)}, 40}}
            << QStringLiteral("AST |35| U/L\n");
        QTest::newRow("letters of names and units stay")
            << std::vector<TPageReading>{{{Line("TSH 2.5 IU/L 5O", 90, 0)}, 90},
                                         {{Line("TSH 2.5 IU/L 5O", 85, 0)}, 85},
                                         {{Line("T5H 2.5 1U/L 50", 60, 0)}, 60}}
            << QStringLiteral("TSH 2.5 IU/L 50\n");
        QTest::newRow("without a digit read there the letter stays")
            << std::vector<TPageReading>{{{Line("LDL 12S", 90, 0)}, 90},
                                         {{Line("LDL 12", 85, 0)}, 85}}
            << QStringLiteral("LDL 12S\n");
        QTest::newRow("column gaps and Japanese")
            << std::vector<TPageReading>{{{Line("血糖      112  mg/dL", 80, 0)}, 80},
                                         {{Line("血精 112 mg/dL", 85, 0)}, 85},
                                         {{Line("血糖   112   mg/dL", 70, 0)}, 70}}
            << QStringLiteral("血糖    112    mg/dL\n");
        QTest::newRow("a box a few pixels off is the same line")
            << std::vector<TPageReading>{{{Line("HbAlc 6.4", 50, 0)}, 50},
                                         {{Line("HbA1c 6.4", 90, 2, 6)}, 40}}
            << QStringLiteral("HbA1c 6.4\n");
        QTest::newRow("a line elsewhere is not taken")
            << std::vector<TPageReading>{{{Line("AST 25", 60, 0), Line("BS 98", 60, 40)}, 60},
                                         {{Line("BS 98", 99, 20)}, 50}}
            << QStringLiteral("AST 25\nBS 98\n");
        QTest::newRow("half a line is not the line")
            << std::vector<TPageReading>{{{Line("TG 180 mg/dL 30-149 H", 60, 0)}, 60},
                                         {{{"TG 180", 99, 10, 0, 200, 30},
                                           {"mg/dL 30-149 H", 99, 210, 0, 410, 30}},
                                          50}}
            << QStringLiteral("TG 180 mg/dL 30-149 H\n");
        QTest::newRow("the order and lines of the surest page")
            << std::vector<TPageReading>{{{Line("a", 50, 0)}, 30},
                                         {{Line("b", 50, 0), Line("c", 50, 40)}, 80}}
            << QStringLiteral("b\nc\n");
    }

    void merge() {
        QFETCH(std::vector<TPageReading>, readings);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(MergeReadings(readings)), expected);
    }

    // What staff are handed: Japanese without the engine's blanks, digits as digits.
    void tidy_data() {
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks between Japanese characters")
            << QStringLiteral("血 糖 98 mg/dL\n総 コ レ ス テ ロ ー ル 210")
            << QStringLiteral("血糖 98 mg/dL\n総コレステロール 210");
        QTest::newRow("blanks beside Latin and digits stay")
            << QStringLiteral("AST 25 U/L 13 - 30") << QStringLiteral("AST 25 U/L 13 - 30");
        QTest::newRow("circled digits of a date and a value")
            << QStringLiteral("報告日 ⑳②④/①①/②0\nγ-GTP ②② U/L Cr 0.⑦① mg/dL")
            << QStringLiteral("報告日 2024/11/20\nγ-GTP 22 U/L Cr 0.71 mg/dL");
        QTest::newRow("every circled form")
            << QStringLiteral("⓪⑩⑪⑳⓫⓴⓵⓾❶❿➀➉➊➓⓿") << QStringLiteral("010112011201101101101100");
    }
    void tidy() {
        QFETCH(QString, read);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(TidyReading(read.toStdString())), expected);
    }
};

QTEST_MAIN(TReadingMergeTest)
#include "tReadingMerge.moc"
