// The trend window on the offscreen platform over real lab tables in a temporary save
// folder: its table, marks and non-numeric values, the chart's series, the copied TSV,
// the saved CSV and PNG, the files it skipped, and the ways in from the history and the
// lab results windows.
#include "files/uLabTrendText.h"
#include "ui/uDialogs.h"
#include "ui/uExtractUI.h"
#include "ui/uHistoryUI.h"
#include "ui/uMessages.h"
#include "ui/uTrendChart.h"
#include "ui/uTrendModel.h"
#include "ui/uTrendUI.h"

#include "uLabRows.h"
#include "uLabTableFiles.h"
#include "uTestEnv.h"

#include <QApplication>
#include <QChart>
#include <QClipboard>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {

const QString Patient = QStringLiteral("12345");
const QString Mg = QStringLiteral("mg/dL");

// Three visits of patient 12345 (two on one day, at two places), another patient, and a
// table that cannot be read.
void MakeFolder(const QString& AFolder) {
    QVERIFY(WriteBytes(
        AFolder, QStringLiteral("12345_検査_20240110_090000.txt"),
        LabTableBytes(QStringLiteral("2024-01-10"), QStringLiteral("さくら内科"),
                      {V(QStringLiteral("HbA1c"), QStringLiteral("7.1 H"), QStringLiteral("%")),
                       V(QStringLiteral("BS"), QStringLiteral("130 H"), Mg),
                       V(QStringLiteral("LDL"), QStringLiteral("140"), Mg),
                       V(QStringLiteral("尿糖"), QStringLiteral("(+)"), QString()),
                       V(QStringLiteral("K"), QStringLiteral("4.0"), QStringLiteral("mEq/L"))})));
    QVERIFY(WriteBytes(
        AFolder, QStringLiteral("2024-04/12345_検査_20240402_100000.txt"),
        LabTableBytes(
            QStringLiteral("2024/4/2"), QStringLiteral("さくら内科"),
            {V(QStringLiteral("HbA1c"), QStringLiteral("6.6"), QStringLiteral("%")),
             V(QStringLiteral("BS"), QStringLiteral("105"), Mg),
             V(QStringLiteral("尿糖"), QStringLiteral("陰性"), QString()),
             V(QStringLiteral("K"), QStringLiteral("3.4 L"), QStringLiteral("mmol/L"))})));
    QVERIFY(WriteBytes(
        AFolder, QStringLiteral("2024-04/12345_検査_20240402_160000.txt"),
        LabTableBytes(QStringLiteral("2024/4/2"), QStringLiteral("みなと病院"),
                      {V(QStringLiteral("HbA1c"), QStringLiteral("6.5*"), QStringLiteral("%")),
                       V(QStringLiteral("LDL"), QStringLiteral("<50"), Mg)})));
    QVERIFY(WriteBytes(
        AFolder, QStringLiteral("99999_検査_20240402_160000.txt"),
        LabTableBytes(QStringLiteral("2024/4/2"), {},
                      {V(QStringLiteral("HbA1c"), QStringLiteral("9.9"), QStringLiteral("%"))})));
    QVERIFY(WriteBytes(AFolder, QStringLiteral("12345_検査_20240501_090000.txt"),
                       QByteArray("AST\t24\tU/L\r\n")));
}

QStringList Row(const TLabTrendForm& AForm, int ARow, int ARole = Qt::DisplayRole) {
    const QAbstractItemModel* model = AForm.FTable->model();
    QStringList cells;
    for (int c = 0; c < model->columnCount(); ++c)
        cells << model->index(ARow, c).data(ARole).toString();
    return cells;
}

QStringList Header(const TLabTrendForm& AForm, int ARole = Qt::DisplayRole) {
    const QAbstractItemModel* model = AForm.FTable->model();
    QStringList cells;
    for (int c = 0; c < model->columnCount(); ++c)
        cells << model->headerData(c, Qt::Horizontal, ARole).toString();
    return cells;
}

void SelectRows(TLabTrendForm& AForm, const QList<int>& ARows) {
    QItemSelectionModel* selection = AForm.FTable->selectionModel();
    const QAbstractItemModel* model = AForm.FTable->model();
    selection->setCurrentIndex(model->index(ARows.first(), 0),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    for (qsizetype i = 1; i < ARows.size(); ++i)
        selection->select(model->index(ARows[i], 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QList<QPointF> Points(const TLabTrendForm& AForm, int ASeries) {
    const auto* series = qobject_cast<QLineSeries*>(AForm.FChart->FChart->series().at(ASeries));
    return series->points();
}

qreal Noon(int AYear, int AMonth, int ADay) {
    return qreal(QDateTime(QDate(AYear, AMonth, ADay), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
}

} // namespace

class TestTrendWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestEnv> FEnv;
    std::unique_ptr<QTemporaryDir> FDir;
    QString FFolder;
    QStringList FMessages;
    std::function<int(QDialog&)> FDialogAnswer;

    std::unique_ptr<TLabTrendForm> Open(const QStringList& AItemOrder = {}) {
        auto form = std::make_unique<TLabTrendForm>(nullptr,
                                                    TLabTrendRequest{FFolder, Patient, AItemOrder});
        form->show();
        if (form->IsLoading()) {
            QSignalSpy loaded(form.get(), &TLabTrendForm::Loaded);
            if (!loaded.wait(10000))
                return nullptr;
        }
        return form;
    }

private Q_SLOTS:
    void initTestCase() {
        FEnv = std::make_unique<TTestEnv>();
        Messages::SetHandler([this](QWidget*, const QString& AText) { FMessages << AText; });
        Dialogs::SetRunner([this](QDialog& ADialog) {
            return FDialogAnswer ? FDialogAnswer(ADialog) : int(QDialog::Rejected);
        });
    }
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FFolder = FDir->path();
        MakeFolder(FFolder);
        FMessages.clear();
        FDialogAnswer = nullptr;
    }

    void tableRowsColumnsAndMarks() {
        const QStringList before = FolderState(FFolder);
        auto form = Open({QStringLiteral("BS"), QStringLiteral("hba1c")});
        QVERIFY(form);
        QCOMPARE(form->windowTitle(), QStringLiteral("検査値の推移 - 患者ID 12345"));
        // Oldest first; the two reports of 2 April stay two columns in the order saved.
        QCOMPARE(Header(*form),
                 QStringList({QStringLiteral("項目"), QStringLiteral("単位"),
                              QStringLiteral("2024/01/10"), QStringLiteral("2024/04/02"),
                              QStringLiteral("2024/04/02")}));
        const QStringList tips = Header(*form, Qt::ToolTipRole);
        QVERIFY2(tips[3].contains(QStringLiteral("さくら内科")), qPrintable(tips[3]));
        QVERIFY2(tips[4].contains(QStringLiteral("みなと病院")), qPrintable(tips[4]));
        // The account's items in their order, then the rest by name.
        QCOMPARE(form->FTable->model()->rowCount(), 5);
        QCOMPARE(Row(*form, 0), QStringList({QStringLiteral("BS"), Mg, QStringLiteral("130 H"),
                                             QStringLiteral("105"), QString()}));
        QCOMPARE(Row(*form, 1),
                 QStringList({QStringLiteral("HbA1c"), QStringLiteral("%"), QStringLiteral("7.1 H"),
                              QStringLiteral("6.6"), QStringLiteral("6.5*")}));
        QCOMPARE(
            Row(*form, 2),
            QStringList({QStringLiteral("K"), QStringLiteral("（報告ごとに異なる）"),
                         QStringLiteral("4.0 mEq/L"), QStringLiteral("3.4 L mmol/L"), QString()}));
        QCOMPARE(Row(*form, 3), QStringList({QStringLiteral("LDL"), Mg, QStringLiteral("140"),
                                             QString(), QStringLiteral("<50")}));
        QCOMPARE(Row(*form, 4),
                 QStringList({QStringLiteral("尿糖"), QString(), QStringLiteral("(+)"),
                              QStringLiteral("陰性"), QString()}));
        // A mark is a colour and its letter and words, never colour alone.
        const QAbstractItemModel* model = form->FTable->model();
        const auto colour = [model](int ARow, int AColumn) {
            return model->index(ARow, AColumn).data(Qt::ForegroundRole).value<QBrush>().color();
        };
        QCOMPARE(colour(1, 2), QColor(176, 0, 0));  // H
        QCOMPARE(colour(1, 4), QColor(160, 82, 0)); // *
        QCOMPARE(colour(2, 3), QColor(0, 64, 176)); // L
        QVERIFY(!model->index(1, 3).data(Qt::ForegroundRole).isValid());
        QVERIFY(model->index(1, 2)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("高値 (H)")));
        QVERIFY(model->index(3, 4)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("グラフには表示しません")));
        // The unreadable table is named with why; nothing was written into the folder.
        QCOMPARE(form->FLstProblems->count(), 1);
        QVERIFY(form->FLstProblems->isVisibleTo(form.get()));
        QCOMPARE(form->FLstProblems->item(0)->text(),
                 QStringLiteral("読み込めません: 12345_検査_20240501_090000.txt — "
                                "見出し行（項目・検査値・単位）がありません"));
        QVERIFY(form->lblSummary->text().contains(QStringLiteral("読み込めないファイル 1件")));
        QCOMPARE(FolderState(FFolder), before);
    }

    void chartSeries() {
        auto form = Open({QStringLiteral("BS"), QStringLiteral("HbA1c")});
        QVERIFY(form);
        // The first row is chosen on opening.
        QCOMPARE(form->FChart->PlottedTests(), QStringList({QStringLiteral("BS (mg/dL)")}));
        QCOMPARE(Points(*form, 0),
                 QList<QPointF>({{Noon(2024, 1, 10), 130}, {Noon(2024, 4, 2), 105}}));
        QVERIFY(form->FChart->lblLatest->text().contains(
            QStringLiteral("最新 BS: 105 mg/dL（2024/04/02）")));
        QVERIFY(qobject_cast<QDateTimeAxis*>(form->FChart->FChart->axes(Qt::Horizontal).value(0)) !=
                nullptr);

        // Two tests of one unit together; LDL's "<50" is shown, not drawn.
        SelectRows(*form, {3, 0});
        QCOMPARE(form->FChart->PlottedTests(),
                 QStringList({QStringLiteral("LDL (mg/dL)"), QStringLiteral("BS (mg/dL)")}));
        QCOMPARE(Points(*form, 0), QList<QPointF>({{Noon(2024, 1, 10), 140}}));

        // Another unit is left out and said so; the latest value carries its mark in words.
        SelectRows(*form, {1, 0});
        QCOMPARE(form->FChart->PlottedTests(), QStringList({QStringLiteral("HbA1c (%)")}));
        QCOMPARE(Points(*form, 0),
                 QList<QPointF>(
                     {{Noon(2024, 1, 10), 7.1}, {Noon(2024, 4, 2), 6.6}, {Noon(2024, 4, 2), 6.5}}));
        const QString latest = form->FChart->lblLatest->text();
        QVERIFY2(latest.contains(QStringLiteral("最新 HbA1c: 6.5* %（要注意 (*)）（2024/04/02）")),
                 qPrintable(latest));
        QVERIFY2(latest.contains(QStringLiteral("BS は単位が違うため")), qPrintable(latest));

        // A unit that changed between reports, and words only: nothing drawn, both said.
        SelectRows(*form, {2});
        QVERIFY(form->FChart->PlottedTests().isEmpty());
        QVERIFY(form->FChart->lblLatest->text().contains(QStringLiteral("単位が異なるため")));
        QVERIFY(!form->btnImage->isEnabled());
        SelectRows(*form, {4});
        QVERIFY(form->FChart->PlottedTests().isEmpty());
        QVERIFY(form->FChart->lblLatest->text().contains(QStringLiteral("数値の結果がない")));

        // The keyboard moves through the tests.
        form->FTable->setFocus();
        SelectRows(*form, {0});
        QTest::keyClick(form->FTable, Qt::Key_Down);
        QCOMPARE(form->FChart->PlottedTests(), QStringList({QStringLiteral("HbA1c (%)")}));
        QTest::keyClick(form->FTable, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(form->FChart->PlottedTests().size(), 1); // % and mg/dL never share a chart
    }

    void copyTsv() {
        auto form = Open({QStringLiteral("BS"), QStringLiteral("HbA1c")});
        QVERIFY(form);
        QApplication::clipboard()->setText(QStringLiteral("earlier"));
        form->btnCopy->click();
        QCOMPARE(FMessages, QStringList({QStringLiteral("検査値の推移の表をクリップボードにコピー"
                                                        "しました。\r\nExcelやカルテに貼り付けで"
                                                        "きます。")}));
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("検査実施日\t\t2024/01/10\t2024/04/02\t2024/04/02\r\n"
                                "検査医療機関\t\tさくら内科\tさくら内科\tみなと病院\r\n"
                                "\r\n"
                                "項目\t単位\t2024/01/10\t2024/04/02\t2024/04/02\r\n"
                                "BS\tmg/dL\t130 H\t105\t\r\n"
                                "HbA1c\t%\t7.1 H\t6.6\t6.5*\r\n"
                                "K\t\t4.0 mEq/L\t3.4 L mmol/L\t\r\n"
                                "LDL\tmg/dL\t140\t\t<50\r\n"
                                "尿糖\t\t(+)\t陰性\t\r\n"));
    }

    void saveCsvAndPicture() {
        auto form = Open();
        QVERIFY(form);
        QTemporaryDir out;
        QString offered;
        FDialogAnswer = [&](QDialog& ADialog) {
            auto& dialog = static_cast<QFileDialog&>(ADialog);
            offered = QFileInfo(dialog.selectedFiles().value(0)).fileName();
            dialog.selectFile(out.path() + u'/' + offered);
            return int(QDialog::Accepted);
        };
        form->btnCsv->click();
        QCOMPARE(offered, QStringLiteral("検査値の推移_12345.csv"));
        QFile csv(out.path() + QStringLiteral("/検査値の推移_12345.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        QCOMPARE(bytes, LabTrendText::Csv(form->Trend()));
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF検査実施日,,2024/01/10,2024/04/02,2024/04/02\r\n"));
        QVERIFY(bytes.contains(QStringLiteral("\r\nBS,mg/dL,130 H,105,\r\n").toUtf8()));

        SelectRows(*form, {0});
        QVERIFY(form->btnImage->isEnabled());
        form->btnImage->click();
        QCOMPARE(offered, QStringLiteral("検査値の推移_12345.png"));
        QImage picture;
        QVERIFY(picture.load(out.path() + QStringLiteral("/検査値の推移_12345.png"), "PNG"));
        QVERIFY(picture.width() > 100 && picture.height() > 100);
        QCOMPARE(FMessages.size(), 2);
        QVERIFY(FMessages[0].startsWith(QStringLiteral("CSVを保存しました: ")));
        QVERIFY(FMessages[1].startsWith(QStringLiteral("グラフの画像を保存しました: ")));

        // A folder that cannot take the file: said so, nothing left behind.
        FMessages.clear();
        FDialogAnswer = [&](QDialog& ADialog) {
            static_cast<QFileDialog&>(ADialog).selectFile(out.path() +
                                                          QStringLiteral("/gone/t.csv"));
            return int(QDialog::Accepted);
        };
        form->btnCsv->click();
        QCOMPARE(FMessages.size(), 1);
        QVERIFY2(FMessages[0].startsWith(QStringLiteral("CSVを保存できませんでした: ")),
                 qPrintable(FMessages[0]));
    }

    void noTablesAndMissingFolder() {
        FFolder = FDir->path() + QStringLiteral("/empty");
        QVERIFY(QDir().mkpath(FFolder));
        auto form = Open();
        QVERIFY(form);
        QCOMPARE(form->FTable->model()->rowCount(), 0);
        QVERIFY(form->lblSummary->text().contains(QStringLiteral("検査値の表が保存フォルダにあり"
                                                                 "ません")));
        QVERIFY(!form->btnCopy->isEnabled());
        QVERIFY(!form->btnCsv->isEnabled());
        QVERIFY(!form->FLstProblems->isVisibleTo(form.get()));

        ShowLabTrend(nullptr,
                     TLabTrendRequest{FDir->path() + QStringLiteral("/gone"), Patient, {}});
        QCOMPARE(FMessages, QStringList({QStringLiteral("保存フォルダが見つかりません。\r\n「接続設"
                                                        "定」の保存フォルダをご確認ください。")}));
    }

    // From the history: the selected row's patient, else the number in the search box.
    void openedFromHistory() {
        QStringList captions;
        FDialogAnswer = [&](QDialog& ADialog) {
            if (auto* trend = qobject_cast<TLabTrendForm*>(&ADialog))
                captions << trend->windowTitle() + u'|' + trend->Request().Folder;
            return int(QDialog::Rejected);
        };
        THistoryForm history(nullptr, FFolder);
        history.FEdtFind->setText(QStringLiteral("99999"));
        QCOMPARE(history.TrendPatientId(), QStringLiteral("99999"));
        history.btnTrend->click();
        history.FEdtFind->setText(QStringLiteral("PT12345"));
        history.FLV->selectionModel()->clearSelection();
        QCOMPARE(history.TrendPatientId(), QStringLiteral("12345"));
        history.btnTrend->click();
        history.FEdtFind->setText(QStringLiteral("さくら"));
        QCOMPARE(history.TrendPatientId(), QString());
        history.btnTrend->click();
        QCOMPARE(captions, QStringList({QStringLiteral("検査値の推移 - 患者ID 99999|") + FFolder,
                                        QStringLiteral("検査値の推移 - 患者ID 12345|") + FFolder}));
        QCOMPARE(FMessages.size(), 1); // no patient: said so, no window
    }

    // From the lab results: the patient the table was saved under; none without one.
    void openedFromLabResults() {
        QStringList captions;
        FDialogAnswer = [&](QDialog& ADialog) {
            if (auto* trend = qobject_cast<TLabTrendForm*>(&ADialog))
                captions << trend->windowTitle();
            return int(QDialog::Rejected);
        };
        TLabResultsForm results(nullptr, ExampleValues(), QStringLiteral("2024-05-01"), QString(),
                                {}, {}, TLabTrendRequest{FFolder, Patient, {}});
        QVERIFY(results.btnTrend->isEnabled());
        results.btnTrend->click();
        QCOMPARE(captions, QStringList({QStringLiteral("検査値の推移 - 患者ID 12345")}));
        TLabResultsForm anonymous(nullptr, ExampleValues(), QString(), QString());
        QVERIFY(!anonymous.btnTrend->isEnabled());
    }

    // Every command is a button the Tab key reaches, and the table gives Tab back.
    void keyboardReachesEveryCommand() {
        auto form = Open();
        QVERIFY(form);
        for (QPushButton* button : {form->btnCopy, form->btnCsv, form->btnImage, form->btnClose})
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
        QVERIFY(!form->FTable->tabKeyNavigation());
        QCOMPARE(form->lblTable->buddy(), form->FTable);
        QCOMPARE(form->lblProblems->buddy(), form->FLstProblems);
    }
};

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
