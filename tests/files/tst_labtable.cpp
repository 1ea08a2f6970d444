// The lab table text without a window: which values are present, and the tab-separated
// table built from them.
#include "files/uLabTable.h"

#include "uLabRows.h"

#include <QtTest>

class TestLabTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void buildLabTsv_data() {
        QTest::addColumn<TLabRows>("values");
        QTest::addColumn<QString>("examDate");
        QTest::addColumn<QString>("institution");
        QTest::addColumn<QString>("text");

        QTest::newRow("example: one empty value left out")
            << TLabRows{ExampleValues()} << QStringLiteral(" 2024/05/01 ") << QString()
            << Head(QStringLiteral("2024/05/01"), QString()) +
                   QStringLiteral("HbA1c\t6.2\t%\r\nALT\t25\tU/L\r\n");
        QTest::newRow("nothing present: no header either")
            << Rows({V(QStringLiteral("AST"), QString(), QStringLiteral("U/L")),
                     V(QStringLiteral("ALT"), QStringLiteral("  "), QString()),
                     V(QStringLiteral("CRP"), QStringLiteral("\t\r\n\x01 \x1f"), QString())})
            << QStringLiteral("2024/05/01") << QStringLiteral("病院") << QString();
        QTest::newRow("no values")
            << TLabRows{} << QStringLiteral("2024/05/01") << QStringLiteral("病院") << QString();
        QTest::newRow("ideographic space is present")
            << Rows({V(QStringLiteral("LDL"), QStringLiteral("\u3000"), QStringLiteral("mg/dL"))})
            << QString() << QString()
            << Head(QString(), QString()) + QStringLiteral("LDL\t\u3000\tmg/dL\r\n");
        QTest::newRow("fields untrimmed")
            << Rows({V(QStringLiteral(" AST "), QStringLiteral(" 24\t"), QStringLiteral(" U/L "))})
            << QString() << QString()
            << Head(QString(), QString()) + QStringLiteral(" AST \t 24 \t U/L \r\n");
        QTest::newRow("each control character inside a field becomes one blank")
            << Rows({V(QStringLiteral("LDL\tchol"), QStringLiteral("120"), QStringLiteral("mg/dL")),
                     V(QStringLiteral("TG"),
                       QStringLiteral("9\x7f"
                                      "8"),
                       QStringLiteral("mg\r\ndL"))})
            << QStringLiteral("2024-05-01\n") << QStringLiteral("さくら\t内科\r\nクリニック")
            << Head(QStringLiteral("2024-05-01"), QStringLiteral("さくら 内科  クリニック")) +
                   QStringLiteral("LDL chol\t120\tmg/dL\r\nTG\t9 8\tmg  dL\r\n");
        QTest::newRow("duplicates kept in input order")
            << Rows({V(QStringLiteral("AST"), QStringLiteral("30"), QStringLiteral("U/L")),
                     V(QStringLiteral("ALT"), QStringLiteral("25"), QStringLiteral("U/L")),
                     V(QStringLiteral("AST"), QStringLiteral("24"), QStringLiteral("U/L"))})
            << QString() << QString()
            << Head(QString(), QString()) +
                   QStringLiteral("AST\t30\tU/L\r\nALT\t25\tU/L\r\nAST\t24\tU/L\r\n");
        QTest::newRow("reference and flag never appear")
            << Rows({V(QStringLiteral("CRP"), QStringLiteral("1.2"), QStringLiteral("mg/dL"),
                       QStringLiteral("0.00-0.30"), QStringLiteral("H")),
                     V(QStringLiteral("K"), QString(), QStringLiteral("mmol/L"),
                       QStringLiteral("3.5-5.0"), QStringLiteral("L"))})
            << QString() << QString()
            << Head(QString(), QString()) + QStringLiteral("CRP\t1.2\tmg/dL\r\n");
        QTest::newRow("date and institution trimmed, U+3000 kept")
            << Rows({V(QStringLiteral("Hb"), QStringLiteral("13.5"), QStringLiteral("g/dL"))})
            << QStringLiteral("  2024/05/01  ") << QStringLiteral("\t\u3000中央病院 \r\n")
            << Head(QStringLiteral("2024/05/01"), QStringLiteral("\u3000中央病院")) +
                   QStringLiteral("Hb\t13.5\tg/dL\r\n");
        QTest::newRow("empty date line keeps its tab")
            << Rows({V(QStringLiteral("Hb"), QStringLiteral("13.5"), QStringLiteral("g/dL"))})
            << QStringLiteral("   ") << QStringLiteral("中央病院")
            << QStringLiteral("検査実施日\t\r\n検査医療機関\t中央病院\r\n\r\n項目\t検査値\t単位\r\n"
                              "Hb\t13.5\tg/dL\r\n");
    }
    void buildLabTsv() {
        QFETCH(TLabRows, values);
        QFETCH(QString, examDate);
        QFETCH(QString, institution);
        QFETCH(QString, text);
        const QString built = BuildLabTsv(values.Values, examDate, institution);
        QCOMPARE(built, text);
        QVERIFY(built.isEmpty() || built.endsWith(QStringLiteral("\r\n")));
    }

    void isPresent_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("present");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blanks and controls") << QStringLiteral(" \t\r\n\x01\x1f ") << false;
        QTest::newRow("ideographic space") << QStringLiteral("\u3000") << true;
        QTest::newRow("no-break space") << QStringLiteral("\u00a0") << true;
        QTest::newRow("zero with blanks") << QStringLiteral(" 0 ") << true;
        QTest::newRow("DEL is above U+0020") << QStringLiteral("\x7f") << true;
    }
    void isPresent() {
        QFETCH(QString, value);
        QFETCH(bool, present);
        QCOMPARE(LabTable::IsPresent(V(QStringLiteral("X"), value, QString())), present);
    }
};

QTEST_MAIN(TestLabTable)
#include "tst_labtable.moc"
