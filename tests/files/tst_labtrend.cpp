// A patient's lab tables read back without a window: the file format with its broken forms,
// the values' marks and numbers, the table over time, the patient's files in a real save
// folder, and the copied and saved text.
#include "files/uHistoryScan.h"
#include "files/uLabTableFile.h"
#include "files/uLabTrend.h"
#include "files/uLabTrendLoader.h"
#include "files/uLabTrendText.h"

#include "uLabRows.h"
#include "uLabTableFiles.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray Utf8(const char* AText) {
    return QByteArray(AText);
}

QString RowsText(const TLabTableFile& ATable) {
    QStringList rows;
    for (const TLabTableRow& row : ATable.Rows)
        rows << row.Name + u'|' + row.Value + u'|' + row.Units;
    return rows.join(u';');
}

TLabTableSource Source(const QString& AFileName, const QString& AExamDate,
                       const QList<TLabValue>& AValues, const QString& AInstitution = {}) {
    TLabTableSource source;
    source.FileName = AFileName;
    source.Path = QStringLiteral("/folder/") + AFileName;
    QString error;
    LabTableFile::Parse(LabTableBytes(AExamDate, AInstitution, AValues), source.Table, error);
    return source;
}

QStringList TestNames(const TLabTrend& ATrend) {
    QStringList names;
    for (const TLabTest& test : ATrend.Tests)
        names << test.Name;
    return names;
}

QStringList ReportNames(const TLabTrend& ATrend) {
    QStringList names;
    for (const TLabReport& report : ATrend.Reports)
        names << report.FileName;
    return names;
}

QStringList ProblemTexts(const TLabTrend& ATrend) {
    QStringList texts;
    for (const TLabFileProblem& p : ATrend.Problems)
        texts << (p.Skipped ? QStringLiteral("skipped ") : QStringLiteral("partly ")) + p.FileName +
                     QStringLiteral(": ") + p.Reason;
    return texts;
}

} // namespace

class TestLabTrend : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("examDate");
        QTest::addColumn<QString>("institution");
        QTest::addColumn<QString>("reasonOrNotes"); // the error, or the notes joined by ";"

        const QString both = QStringLiteral("AST|24|U/L;ALT|31|U/L");
        QTest::newRow("as saved: mark, CR LF")
            << LabTableBytes(
                   QStringLiteral("2024-05-01"), QStringLiteral("さくら内科"),
                   {V(QStringLiteral("AST"), QStringLiteral("24"), QStringLiteral("U/L")),
                    V(QStringLiteral("ALT"), QStringLiteral("31"), QStringLiteral("U/L"))})
            << true << both << QStringLiteral("2024-05-01") << QStringLiteral("さくら内科")
            << QString();
        QTest::newRow("edited by hand: LF, no mark, no last line break")
            << Utf8("検査実施日\t2024/5/1\n検査医療機関\t\n\n項目\t検査値\t単位\nAST\t24\tU/"
                    "L\nALT\t31\tU/L")
            << true << both << QStringLiteral("2024/5/1") << QString() << QString();
        QTest::newRow("cut inside the last line: the short line is left out")
            << Utf8("検査実施日\t2024-05-01\r\n検査医療機関\tA\r\n\r\n項目\t検査値\t単位\r\n"
                    "AST\t24\tU/L\r\nALT\t31\tU/L\r\nHbA1c\t6.")
            << true << both << QStringLiteral("2024-05-01") << QStringLiteral("A")
            << QStringLiteral("7行目：列が3つではありません（2列）。この行は読み飛ばしました");
        QTest::newRow("a fourth column added by hand")
            << Utf8("項目\t検査値\t単位\r\nAST\t24\tU/L\r\nALT\t31\tU/L\tmemo\r\n") << true
            << QStringLiteral("AST|24|U/L") << QString() << QString()
            << QStringLiteral("3行目：列が3つではありません（4列）。この行は読み飛ばしました");
        QTest::newRow("a test named twice: neither value is taken")
            << Utf8("項目\t検査値\t単位\r\nAST\t24\tU/L\r\nALT\t31\tU/L\r\nAST\t42\tU/L\r\n")
            << true << QStringLiteral("ALT|31|U/L") << QString() << QString()
            << QStringLiteral("「AST」が2回あります。どの値か決められないため読み飛ばしました");
        QTest::newRow("only a test named twice: nothing to read")
            << Utf8("項目\t検査値\t単位\r\nAST\t24\tU/L\r\nAST\t42\tU/L\r\n") << false << QString()
            << QString() << QString()
            << QStringLiteral("読める検査値の行がありません（「AST」が2回あります。どの値か決め"
                              "られないため読み飛ばしました）");
        QTest::newRow("no header line")
            << Utf8("検査実施日\t2024-05-01\r\nAST\t24\tU/L\r\n") << false << QString() << QString()
            << QString() << QStringLiteral("見出し行（項目・検査値・単位）がありません");
        QTest::newRow("Shift_JIS, not UTF-8")
            << QByteArray("\x8c\x9f\x8d\xb8\x8e\xc0\x8e\x7b\x93\xfa\t2024-05-01\r\n") << false
            << QString() << QString() << QString() << QStringLiteral("UTF-8の文字として読めません");
        QTest::newRow("header alone")
            << Utf8("\xEF\xBB\xBF項目\t検査値\t単位\r\n") << false << QString() << QString()
            << QString() << QStringLiteral("検査値の行がありません");
        QTest::newRow("empty file") << QByteArray() << false << QString() << QString() << QString()
                                    << QStringLiteral("見出し行（項目・検査値・単位）がありません");
    }
    void parse() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(QString, rows);
        QFETCH(QString, reasonOrNotes);
        TLabTableFile table;
        QString error;
        QCOMPARE(LabTableFile::Parse(bytes, table, error), ok);
        if (!ok) {
            QCOMPARE(error, reasonOrNotes);
            QVERIFY(table.Rows.isEmpty());
            return;
        }
        QVERIFY(error.isEmpty());
        QCOMPARE(RowsText(table), rows);
        QTEST(table.ExamDate, "examDate");
        QTEST(table.Institution, "institution");
        QCOMPARE(table.Notes.join(u';'), reasonOrNotes);
    }

    void read_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("number");

        QTest::newRow("plain") << QStringLiteral("6.4") << QString() << true << 6.4;
        QTest::newRow("H after a blank")
            << QStringLiteral("6.4 H") << QStringLiteral("H") << true << 6.4;
        QTest::newRow("H glued") << QStringLiteral("112H") << QStringLiteral("H") << true << 112.0;
        QTest::newRow("L") << QStringLiteral(" 3.1 L ") << QStringLiteral("L") << true << 3.1;
        QTest::newRow("star") << QStringLiteral("88*") << QStringLiteral("*") << true << 88.0;
        QTest::newRow("full-width number and mark")
            << QStringLiteral("１２．５Ｈ") << QStringLiteral("H") << true << 12.5;
        QTest::newRow("negative") << QStringLiteral("-1.5") << QString() << true << -1.5;
        QTest::newRow("grouped thousands")
            << QStringLiteral("1,234") << QString() << true << 1234.0;
        QTest::newRow("grouped with a fraction")
            << QStringLiteral("12,345.6") << QString() << true << 12345.6;
        QTest::newRow("a comma that groups nothing")
            << QStringLiteral("1,23") << QString() << false << 0.0;
        QTest::newRow("point last") << QStringLiteral("12.") << QString() << true << 12.0;
        QTest::newRow("point first") << QStringLiteral(".5") << QString() << true << 0.5;
        QTest::newRow("point alone") << QStringLiteral(".") << QString() << false << 0.0;
        QTest::newRow("less than") << QStringLiteral("<0.1") << QString() << false << 0.0;
        QTest::newRow("words") << QStringLiteral("陰性") << QString() << false << 0.0;
        QTest::newRow("plus sign in brackets")
            << QStringLiteral("(+)") << QString() << false << 0.0;
        QTest::newRow("a unit ending in L is no mark")
            << QStringLiteral("5.2 mmol/L") << QString() << false << 0.0;
        QTest::newRow("a letter alone is no mark")
            << QStringLiteral("H") << QString() << false << 0.0;
        QTest::newRow("words with a mark after a blank")
            << QStringLiteral("(2+) H") << QStringLiteral("H") << false << 0.0;
        QTest::newRow("two points") << QStringLiteral("1.2.3") << QString() << false << 0.0;
    }
    void read() {
        QFETCH(QString, value);
        QFETCH(bool, isNumber);
        QFETCH(double, number);
        const TLabReading reading = LabTrend::Read(value);
        QCOMPARE(reading.Text, value.trimmed());
        QTEST(reading.Mark, "mark");
        QCOMPARE(reading.IsNumber, isNumber);
        if (isNumber)
            QCOMPARE(reading.Number, number);
    }

    void dateOf_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        const QDate may1(2024, 5, 1);
        QTest::newRow("ISO") << QStringLiteral("2024-05-01") << may1;
        QTest::newRow("slashes, no zeros") << QStringLiteral("2024/5/1") << may1;
        QTest::newRow("Japanese") << QStringLiteral("2024年5月1日") << may1;
        QTest::newRow("full-width") << QStringLiteral("２０２４／０５／０１") << may1;
        QTest::newRow("compact") << QStringLiteral("20240501") << may1;
        QTest::newRow("blanks around the separators") << QStringLiteral(" 2024 / 5 / 1 ") << may1;
        QTest::newRow("no such day") << QStringLiteral("2024-02-30") << QDate();
        QTest::newRow("something after the day") << QStringLiteral("2024-05-01x") << QDate();
        QTest::newRow("year too short") << QStringLiteral("24-05-01") << QDate();
        QTest::newRow("seven digits") << QStringLiteral("2024051") << QDate();
        QTest::newRow("words") << QStringLiteral("不明") << QDate();
        QTest::newRow("empty") << QString() << QDate();
    }
    void dateOf() {
        QFETCH(QString, text);
        QTEST(LabTableFile::DateOf(text), "date");
    }

    // Columns by exam date, else the file name's date; two reports of one date in the
    // order they were saved; rows by the account's items, then by name.
    void buildOrdersReportsAndTests() {
        const QString mg = QStringLiteral("mg/dL");
        QList<TLabTableSource> tables{
            Source(QStringLiteral("12345_検査_20240610_090000.txt"), QStringLiteral("2024-06-01"),
                   {V(QStringLiteral("HbA1c"), QStringLiteral("6.4 H"), QStringLiteral("%")),
                    V(QStringLiteral("alb"), QStringLiteral("4.1"), QStringLiteral("g/dL"))},
                   QStringLiteral("B病院")),
            Source(QStringLiteral("12345_検査_20240601_170000.txt"), QStringLiteral("2024-06-01"),
                   {V(QStringLiteral("BS"), QStringLiteral("<70"), mg)}, QStringLiteral("A医院")),
            // No exam date: the file name's date, 2024-03-15.
            Source(QStringLiteral("12345_検査_20240315_100000.txt"), QString(),
                   {V(QStringLiteral("HbA1c"), QStringLiteral("6.9"), QStringLiteral("%")),
                    V(QStringLiteral("Cr"), QStringLiteral("0.9"), mg),
                    V(QStringLiteral("ALP"), QStringLiteral("80"), QStringLiteral("U/L"))})};
        const TLabTrend trend =
            LabTrend::Build(QStringLiteral("12345"), tables,
                            {QStringLiteral("hba1c"), QStringLiteral("BS"), QStringLiteral("AST")});
        QCOMPARE(ReportNames(trend),
                 QStringList({QStringLiteral("12345_検査_20240315_100000.txt"),
                              QStringLiteral("12345_検査_20240601_170000.txt"),
                              QStringLiteral("12345_検査_20240610_090000.txt")}));
        QCOMPARE(trend.Reports[0].Date, QDate(2024, 3, 15));
        QVERIFY(trend.Reports[0].DateFromName);
        QCOMPARE(trend.Reports[1].Date, QDate(2024, 6, 1));
        QVERIFY(!trend.Reports[1].DateFromName);
        QCOMPARE(trend.Reports[2].Institution, QStringLiteral("B病院"));
        QCOMPARE(TestNames(trend),
                 QStringList({QStringLiteral("HbA1c"), QStringLiteral("BS"), QStringLiteral("alb"),
                              QStringLiteral("ALP"), QStringLiteral("Cr")}));
        const TLabTest& hba1c = trend.Tests[0];
        QCOMPARE(hba1c.Units, QStringLiteral("%"));
        QVERIFY(hba1c.Plottable());
        QCOMPARE(hba1c.CellText(0), QStringLiteral("6.9"));
        QCOMPARE(hba1c.CellText(1), QString());
        QCOMPARE(hba1c.CellText(2), QStringLiteral("6.4 H"));
        QCOMPARE(hba1c.Cells[2].Reading.Mark, QStringLiteral("H"));
        QCOMPARE(hba1c.LatestReport(), 2);
        // A test with no number is shown, never drawn.
        QVERIFY(!trend.Tests[1].Plottable());
        QCOMPARE(trend.Tests[1].CellText(1), QStringLiteral("<70"));
    }

    void buildUnitsThatChange() {
        const TLabTrend trend = LabTrend::Build(
            QStringLiteral("1"),
            {Source(QStringLiteral("1_検査_20240101_000000.txt"), QStringLiteral("2024-01-01"),
                    {V(QStringLiteral("BS"), QStringLiteral("100"), QStringLiteral("mg/dL"))}),
             Source(QStringLiteral("1_検査_20240201_000000.txt"), QStringLiteral("2024-02-01"),
                    {V(QStringLiteral("BS"), QStringLiteral("5.8"), QStringLiteral("mmol/L"))})},
            {});
        const TLabTest& bs = trend.Tests.at(0);
        QVERIFY(bs.UnitsVary);
        QVERIFY(bs.Units.isEmpty());
        QVERIFY(!bs.Plottable());
        QCOMPARE(bs.CellText(0), QStringLiteral("100 mg/dL"));
        QCOMPARE(bs.CellText(1), QStringLiteral("5.8 mmol/L"));
    }

    // The patient's tables in a real tree with other patients' files and broken ones:
    // what could be read is read, each file left out is named with why, and the folder is
    // left as it was.
    void loadFromSaveFolder() {
        QTemporaryDir dir;
        const QString f = dir.path();
        const QList<TLabValue> values{
            V(QStringLiteral("HbA1c"), QStringLiteral("6.5"), QStringLiteral("%"))};
        QVERIFY(
            WriteBytes(f, QStringLiteral("12345_検査_20240101_090000.txt"),
                       LabTableBytes(QStringLiteral("2024-01-01"), QStringLiteral("A"), values)));
        QVERIFY(WriteBytes(f, QStringLiteral("2024/05/pt12345_OCR_検査_20240501_090000.txt"),
                           LabTableBytes(QStringLiteral("2024-05-01"), QStringLiteral("B"),
                                         {V(QStringLiteral("HbA1c"), QStringLiteral("6.2"),
                                            QStringLiteral("%"))})));
        // Other patients, other kinds, no patient at all.
        for (const QString& name : {QStringLiteral("123456_検査_20240102_090000.txt"),
                                    QStringLiteral("1234_検査_20240102_090000.txt"),
                                    QStringLiteral("OCR_検査_20240102_090000.txt"),
                                    QStringLiteral("12345_処方_20240102_090000.txt"),
                                    QStringLiteral("12345_20240102_090000.txt")})
            QVERIFY(WriteBytes(f, name, LabTableBytes(QStringLiteral("2024-01-02"), {}, values)));
        // The patient's broken tables.
        QVERIFY(WriteBytes(f, QStringLiteral("12345_検査_20240201_090000.txt"),
                           QByteArray("\x8c\x9f\x8d\xb8\t2024\r\n")));
        QVERIFY(WriteBytes(f, QStringLiteral("12345_検査_20240202_090000.txt"),
                           QByteArray("AST\t24\tU/L\r\n")));
        QVERIFY(WriteBytes(f, QStringLiteral("12345_検査_20240203_090000.txt"),
                           QByteArray("項目\t検査値\t単位\r\nAST\t24\tU/L\r\nAST\t25\tU/L\r\n"
                                      "ALT\t30\tU/L\r\n")));
        QVERIFY(WriteBytes(f, QStringLiteral("12345_検査_20240204_090000.txt"),
                           QByteArray(LabTableFile::MaxBytes + 1, 'x')));
        const QStringList before = FolderState(f);

        TLabTrend trend;
        QString error;
        QList<qsizetype> progress;
        QVERIFY(LabTrend::Load(f, QStringLiteral("12345"), {}, trend, error,
                               [&progress](qsizetype ADone, qsizetype) { progress << ADone; }));
        QVERIFY(error.isEmpty());
        QCOMPARE(trend.PatientId, QStringLiteral("12345"));
        QCOMPARE(ReportNames(trend),
                 QStringList({QStringLiteral("12345_検査_20240101_090000.txt"),
                              QStringLiteral("12345_検査_20240203_090000.txt"),
                              QStringLiteral("pt12345_OCR_検査_20240501_090000.txt")}));
        QCOMPARE(TestNames(trend), QStringList({QStringLiteral("ALT"), QStringLiteral("HbA1c")}));
        QStringList problems = ProblemTexts(trend);
        problems.sort();
        QCOMPARE(problems,
                 QStringList(
                     {QStringLiteral("partly 12345_検査_20240203_090000.txt: 「AST」が2回あります。"
                                     "どの値か決められないため読み飛ばしました"),
                      QStringLiteral("skipped 12345_検査_20240201_090000.txt: UTF-8の文字として"
                                     "読めません"),
                      QStringLiteral("skipped 12345_検査_20240202_090000.txt: 見出し行（項目・検査"
                                     "値・単位）がありません"),
                      QStringLiteral("skipped 12345_検査_20240204_090000.txt: 大きすぎます（検査値"
                                     "の表ではありません）")}));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 6);
        QCOMPARE(FolderState(f), before);
    }

    // Past the history's limit the newest tables are read and the count of the older ones
    // is kept, so the window can say how many it left out.
    void loadKeepsTheNewestPastTheLimit() {
        QTemporaryDir dir;
        const QByteArray bytes = LabTableBytes(
            QStringLiteral("2024-01-01"), {},
            {V(QStringLiteral("BS"), QStringLiteral("100"), QStringLiteral("mg/dL"))});
        const QDateTime start(QDate(2024, 1, 1), QTime(9, 0));
        const int count = HistoryScan::MaxFiles + 2;
        for (int i = 0; i < count; ++i) {
            const QString name =
                QStringLiteral("8_検査_20240101_%1.txt").arg(i, 6, 10, QChar(u'0'));
            QVERIFY(WriteBytes(dir.path(), name, bytes));
            QFile f(dir.path() + u'/' + name);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(start.addSecs(i), QFileDevice::FileModificationTime));
        }
        TLabTrend trend;
        QString error;
        QVERIFY(LabTrend::Load(dir.path(), QStringLiteral("8"), {}, trend, error));
        QCOMPARE(trend.Reports.size(), HistoryScan::MaxFiles);
        QCOMPARE(trend.LeftOut, 2);
        QCOMPARE(trend.Reports.first().FileName, QStringLiteral("8_検査_20240101_000002.txt"));
    }

    void loadFromMissingFolder() {
        QTemporaryDir dir;
        TLabTrend trend;
        QString error;
        QVERIFY(!LabTrend::Load(dir.path() + QStringLiteral("/gone"), QStringLiteral("1"), {},
                                trend, error));
        QVERIFY(!error.isEmpty());
        QVERIFY(trend.Reports.isEmpty());
    }

    // The thread's answer arrives as a signal, and a loader destroyed mid-way sends nothing.
    void loaderOnItsThread() {
        QTemporaryDir dir;
        for (int i = 0; i < 50; ++i)
            QVERIFY(WriteBytes(dir.path(),
                               QStringLiteral("7_検査_202401%1_0900%2.txt")
                                   .arg(i % 28 + 1, 2, 10, QChar(u'0'))
                                   .arg(i, 2, 10, QChar(u'0')),
                               LabTableBytes(QStringLiteral("2024-01-01"), {},
                                             {V(QStringLiteral("BS"), QString::number(90 + i),
                                                QStringLiteral("mg/dL"))})));
        TLabTrendLoader loader;
        QSignalSpy finished(&loader, &TLabTrendLoader::Finished);
        loader.Start(dir.path(), QStringLiteral("7"), {});
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.at(0).at(0).toBool());
        QCOMPARE(finished.at(0).at(1).value<TLabTrend>().Reports.size(), 50);
        {
            TLabTrendLoader gone;
            QSignalSpy none(&gone, &TLabTrendLoader::Finished);
            gone.Start(dir.path(), QStringLiteral("7"), {});
        }
        QTest::qWait(50); // nothing may arrive from the destroyed loader
    }

    void tsvAndCsv() {
        const TLabTrend trend = LabTrend::Build(
            QStringLiteral("12345"),
            {Source(QStringLiteral("12345_検査_20240101_090000.txt"), QStringLiteral("2024-01-01"),
                    {V(QStringLiteral("HbA1c"), QStringLiteral("6.9 H"), QStringLiteral("%")),
                     V(QStringLiteral("CRP"), QStringLiteral("<0.1"), QStringLiteral("mg/dL"))},
                    QStringLiteral("さくら内科, 本院")),
             Source(QStringLiteral("12345_検査_20240301_090000.txt"), QStringLiteral("2024/3/1"),
                    {V(QStringLiteral("HbA1c"), QStringLiteral("6.4"), QStringLiteral("%")),
                     V(QStringLiteral("=cmd"), QStringLiteral("-1"), QString())})},
            {QStringLiteral("HbA1c")});
        QCOMPARE(LabTrendText::Tsv(trend), QStringLiteral("検査実施日\t\t2024/01/01\t2024/03/01\r\n"
                                                          "検査医療機関\t\tさくら内科, 本院\t\r\n"
                                                          "\r\n"
                                                          "項目\t単位\t2024/01/01\t2024/03/01\r\n"
                                                          "HbA1c\t%\t6.9 H\t6.4\r\n"
                                                          "=cmd\t\t\t-1\r\n"
                                                          "CRP\tmg/dL\t<0.1\t\r\n"));
        QCOMPARE(LabTrendText::Csv(trend),
                 QByteArray("\xEF\xBB\xBF") +
                     QStringLiteral("検査実施日,,2024/01/01,2024/03/01\r\n"
                                    "検査医療機関,,\"さくら内科, 本院\",\r\n"
                                    "\r\n"
                                    "項目,単位,2024/01/01,2024/03/01\r\n"
                                    "HbA1c,%,6.9 H,6.4\r\n"
                                    "'=cmd,,,-1\r\n"
                                    "CRP,mg/dL,<0.1,\r\n")
                         .toUtf8());
        QCOMPARE(LabTrendText::Tsv(TLabTrend{}), QString());
    }
};

QTEST_GUILESS_MAIN(TestLabTrend)
#include "tst_labtrend.moc"
