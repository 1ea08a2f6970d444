// Item names in recognised text put back as the items spell them.
#include <QtTest>

#include "extraction/uNameCorrection.h"

class TNameCorrectionTest : public QObject {
    Q_OBJECT

private slots:
    void correct_data() {
        QTest::addColumn<QStringList>("items"); // the account's own, besides the catalogue
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("misread names")
            << QStringList{} << QStringLiteral("HbAlc 6.4 %\ny-GTP 88 U/L\nLDLC 152")
            << QStringLiteral("HbA1c 6.4 %\nγ-GTP 88 U/L\nLDL-C 152");
        QTest::newRow("kana and kanji misread")
            << QStringList{} << QStringLiteral("へモグロビンAlc 5.8    %\n血精    112 mg/dL")
            << QStringLiteral("ヘモグロビンA1c 5.8    %\n血糖    112 mg/dL");
        QTest::newRow("an alias keeps its own spelling")
            << QStringList{} << QStringLiteral("AST(GOT) 25\nCRE 0.8\nCre 0.8\nG0T 25")
            << QStringLiteral("AST(GOT) 25\nCRE 0.8\nCre 0.8\nGOT 25");
        QTest::newRow("the account's own items")
            << QStringList{QStringLiteral("ペプシノゲンI")} << QStringLiteral("ぺプシノゲンl 30")
            << QStringLiteral("ペプシノゲンI 30");
        QTest::newRow("words that only look like names stay")
            << QStringList{}
            << QStringLiteral("患者ID 0123\nALT 61 U/L\n血清 80\nHbA 6.4\nTEL 03-1234-5678")
            << QStringLiteral("患者ID 0123\nALT 61 U/L\n血清 80\nHbA 6.4\nTEL 03-1234-5678");
        QTest::newRow("full width") << QStringList{} << QStringLiteral("ＨｂＡｌｃ　６．４")
                                    << QStringLiteral("HbA1c　６．４");
        QTest::newRow("case alone is no misreading")
            << QStringList{} << QStringLiteral("NA 140\nCA19-9 12.0\n12 k/μL\nHBA1C 6.4")
            << QStringLiteral("NA 140\nCA19-9 12.0\n12 k/μL\nHBA1C 6.4");
        QTest::newRow("inside a longer word")
            << QStringList{} << QStringLiteral("血精液症 なし") << QStringLiteral("血精液症 なし");
        QTest::newRow("a character that stands for several")
            << QStringList{} << QStringLiteral("㏀ 3\n㎁ 2\n⒦ 1")
            << QStringLiteral("㏀ 3\n㎁ 2\n⒦ 1");
        QTest::newRow("blank lines, the last break and characters outside the BMP")
            << QStringList{} << QStringLiteral("\n𠮷田 血精\n\n")
            << QStringLiteral("\n𠮷田 血糖\n\n");
        QTest::newRow("nothing") << QStringList{} << QString() << QString();
    }

    void correct() {
        QFETCH(QStringList, items);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        std::vector<TExtractItem> Items;
        for (const QString& Name : items) {
            Items.push_back({Name.toStdString(), {}});
        }
        QCOMPARE(CorrectItemNames(text, Items), expected);
    }
};

QTEST_MAIN(TNameCorrectionTest)
#include "tNameCorrection.moc"
