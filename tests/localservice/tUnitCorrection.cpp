// Units in recognised text put back with their slashes.
#include <QtTest>

#include "reading/uUnitCorrection.h"

class TUnitCorrectionTest : public QObject {
    Q_OBJECT

private slots:
    void correct_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("slash dropped") << QStringLiteral("AST    18 UL    ALT 15 IUL")
                                       << QStringLiteral("AST    18 U/L    ALT 15 IU/L");
        QTest::newRow("slash read as a blank")
            << QStringLiteral("TG 96 mg dL (50-149)\nCr 0.8 mg dL,")
            << QStringLiteral("TG 96 mg/dL (50-149)\nCr 0.8 mg/dL,");
        QTest::newRow("several slashes") << QStringLiteral("eGFR 65.3 mL min 1.73m2 ≧60")
                                         << QStringLiteral("eGFR 65.3 mL/min/1.73m2 ≧60");
        QTest::newRow("the longest unit") << QStringLiteral("CA19-9 12 UmL\nTSH 2.1 μIUmL")
                                          << QStringLiteral("CA19-9 12 U/mL\nTSH 2.1 μIU/mL");
        QTest::newRow("units as printed stay")
            << QStringLiteral("AST 18 U/L\nWBC 6,500 /μL\n3.2 μL\nHbA1c 6.4 %")
            << QStringLiteral("AST 18 U/L\nWBC 6,500 /μL\n3.2 μL\nHbA1c 6.4 %");
        QTest::newRow("no number before it, or inside a word")
            << QStringLiteral("UL 18\n受付 UL\nAST 18 ULN\nALT 15 HUL\nBS 98 xmg dL")
            << QStringLiteral("UL 18\n受付 UL\nAST 18 ULN\nALT 15 HUL\nBS 98 xmg dL");
        QTest::newRow("empty lines and the last break")
            << QStringLiteral("\nAST 18 UL\n\n") << QStringLiteral("\nAST 18 U/L\n\n");
    }

    void correct() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(CorrectUnits(text), expected);
    }
};

QTEST_MAIN(TUnitCorrectionTest)
#include "tUnitCorrection.moc"
