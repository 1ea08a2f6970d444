// The lab results window on the offscreen platform with the real clipboard, and its modal
// run through the dialog seam.
#include "ui/uDialogs.h"
#include "ui/uExtractUI.h"
#include "ui/uMessages.h"

#include "uLabRows.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

namespace {

const QString NoValuesMessage =
    QStringLiteral("検査値を検出できませんでした。\r\n選択範囲を検査値の表全体にするか、「⚙ "
                   "抽出項目の設定」で項目名・別名をご確認ください。");
const QString CopiedMessage = QStringLiteral(
    "検査値の表をクリップボードにコピーしました。\r\nExcelやカルテに貼り付けできます。");
const QString CopyFailedMessage = QStringLiteral("クリップボードへのコピーに失敗しました。");

QStringList RowTexts(const QTreeWidget* ATree) {
    QStringList rows;
    for (int i = 0; i < ATree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ATree->topLevelItem(i);
        rows << item->text(0) + u'|' + item->text(1) + u'|' + item->text(2);
    }
    return rows;
}

QColor PixelAt(const QImage& AImage, qreal ARatio, int AX, int AY) {
    return AImage.pixelColor(QPoint(int(AX * ARatio), int(AY * ARatio)));
}

} // namespace

class TestLabResults : public QObject {
    Q_OBJECT
    struct TMessage {
        QWidget* Parent;
        QString Text;
    };
    QList<TMessage> FMessages;

    QStringList MessageTexts() const {
        QStringList texts;
        for (const TMessage& m : FMessages)
            texts << m.Text;
        return texts;
    }

private Q_SLOTS:
    void initTestCase() {
        Messages::SetHandler([this](QWidget* AParent, const QString& AText) {
            FMessages.append({AParent, AText});
        });
    }
    void init() {
        FMessages.clear();
        Dialogs::SetRunner({});
    }
    void cleanup() { Dialogs::SetRunner({}); }

    // ---- the window's contents

    void windowContents_data() {
        QTest::addColumn<TLabRows>("values");
        QTest::addColumn<QString>("examDate");
        QTest::addColumn<QString>("institution");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("examLabel");
        QTest::addColumn<QString>("institutionLabel");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("notFound");
        QTest::addColumn<QString>("itemsError");
        QTest::addColumn<QString>("note"); // empty: no line under the table

        QTest::newRow("three values, one empty")
            << TLabRows{ExampleValues()} << QStringLiteral("  2024/05/01  ")
            << QStringLiteral(" 中央病院 ") << QStringLiteral("検査項目抽出結果（2項目を検出）")
            << QStringLiteral("検査実施日　　： 2024/05/01")
            << QStringLiteral("検査医療機関： 中央病院")
            << QStringList{QStringLiteral("HbA1c|6.2|%"), QStringLiteral("ALT|25|U/L")}
            << QStringList{QStringLiteral("AST"), QStringLiteral("LDL-C"),
                           QStringLiteral("<b>TG</b>")}
            << QString() << QStringLiteral("未検出: AST、LDL-C、<b>TG</b>");
        QTest::newRow("empty date and institution, ideographic space counted")
            << Rows({V(QStringLiteral("LDL"), QStringLiteral("\u3000"), QStringLiteral("mg/dL"))})
            << QString() << QStringLiteral("\t")
            << QStringLiteral("検査項目抽出結果（1項目を検出）")
            << QStringLiteral("検査実施日　　： ") << QStringLiteral("検査医療機関： ")
            << QStringList{QStringLiteral("LDL|\u3000|mg/dL")} << QStringList{} << QString()
            << QString();
        QTest::newRow("untrimmed cells, duplicates in order, empty name and units")
            << Rows({V(QStringLiteral(" AST "), QStringLiteral(" 24 "), QStringLiteral("U/L")),
                     V(QStringLiteral("AST"), QStringLiteral("30"), QString()),
                     V(QString(), QStringLiteral("7"), QString(), QStringLiteral("1-9"),
                       QStringLiteral("H"))})
            << QString() << QString() << QStringLiteral("検査項目抽出結果（3項目を検出）")
            << QStringLiteral("検査実施日　　： ") << QStringLiteral("検査医療機関： ")
            << QStringList{QStringLiteral(" AST | 24 |U/L"), QStringLiteral("AST|30|"),
                           QStringLiteral("|7|")}
            << QStringList{} << QStringLiteral("HTTP 500")
            << QStringLiteral("未検出の項目を確認できませんでした: HTTP 500");
    }
    void windowContents() {
        QFETCH(TLabRows, values);
        QFETCH(QString, examDate);
        QFETCH(QString, institution);
        QFETCH(QString, caption);
        QFETCH(QString, examLabel);
        QFETCH(QString, institutionLabel);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, notFound);
        QFETCH(QString, itemsError);
        QFETCH(QString, note);

        TLabResultsForm form(nullptr, values.Values, examDate, institution, notFound, itemsError);
        QCOMPARE(form.windowTitle(), caption);
        QCOMPARE(form.lblExamDate->text(), examLabel);
        QCOMPARE(form.lblInstitution->text(), institutionLabel);
        QCOMPARE(RowTexts(form.FLV), rows);
        QCOMPARE(form.Data().size(), rows.size());
        QCOMPARE(form.FLV->columnCount(), 3);
        const QTreeWidgetItem* header = form.FLV->headerItem();
        QCOMPARE(header->text(0), QStringLiteral("項目"));
        QCOMPARE(header->text(1), QStringLiteral("検査値"));
        QCOMPARE(header->text(2), QStringLiteral("単位"));
        QCOMPARE(form.btnCopy->text(), QStringLiteral("📋 表をコピー(TSV)"));
        QCOMPARE(form.btnClose->text(), QStringLiteral("閉じる"));
        QCOMPARE(form.NotFound(), notFound);
        QCOMPARE(form.lblNotFound->text(), note);
        QCOMPARE(form.pnlNotFound->isHidden(), note.isEmpty());
    }

    void dataCopiedWhole() {
        // The caller's list may change or go away; the form keeps its own copy of each
        // present value, all five fields.
        QList<TLabValue> values{V(QStringLiteral("CRP"), QStringLiteral("1.2"),
                                  QStringLiteral("mg/dL"), QStringLiteral("0.00-0.30"),
                                  QStringLiteral("H"))};
        TLabResultsForm form(nullptr, values, QString(), QString());
        values[0].Value = QStringLiteral("9.9");
        values.clear();
        QCOMPARE(form.Data().size(), 1);
        QCOMPARE(form.Data()[0].Value, QStringLiteral("1.2"));
        QCOMPARE(form.Data()[0].Reference, QStringLiteral("0.00-0.30"));
        QCOMPARE(form.Data()[0].Flag, QStringLiteral("H"));
    }

    void labelsShowMarkupAsWritten() {
        // Names come from the service; markup in them is text, not formatting.
        const QString institution = QStringLiteral("<b>中央</b>病院 &amp; <i>検査</i>");
        TLabResultsForm form(nullptr, ExampleValues(), QString(), institution);
        form.show();
        const QString shown = QStringLiteral("検査医療機関： ") + institution;
        QCOMPARE(form.lblInstitution->text(), shown);
        QVERIFY(form.lblInstitution->sizeHint().width() >=
                QFontMetrics(form.lblInstitution->font()).horizontalAdvance(shown));
    }

    void tableIsReadOnlyRowSelectedUnsorted() {
        TLabResultsForm form(nullptr,
                             {V(QStringLiteral("ZZZ"), QStringLiteral("1"), QStringLiteral("a")),
                              V(QStringLiteral("AAA"), QStringLiteral("2"), QStringLiteral("b"))},
                             QString(), QString());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTreeWidget* tree = form.FLV;

        // A click on the value cell selects the whole row.
        const QRect valueCell = tree->visualRect(tree->model()->index(1, 1));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, valueCell.center());
        QVERIFY(tree->selectionModel()->isRowSelected(1, QModelIndex()));
        QCOMPARE(tree->selectionModel()->selectedIndexes().size(), 3);

        // Neither a double click nor F2 opens an editor.
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, valueCell.center());
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_F2);
        QVERIFY(tree->viewport()->findChildren<QLineEdit*>().isEmpty());
        QCOMPARE(RowTexts(tree),
                 (QStringList{QStringLiteral("ZZZ|1|a"), QStringLiteral("AAA|2|b")}));

        // A click on a column caption does not sort.
        const int header0 = tree->header()->sectionViewportPosition(0) + 5;
        QTest::mouseClick(tree->header()->viewport(), Qt::LeftButton, {},
                          QPoint(header0, tree->header()->height() / 2));
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("ZZZ"));
    }

    void gridLinesAndUnfocusedSelection() {
        // Like the Windows list view, a palette whose inactive selection is grey.
        const QPalette appPalette = QApplication::palette();
        QPalette greyInactive = appPalette;
        greyInactive.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0xd9, 0xd9, 0xd9));
        QApplication::setPalette(greyInactive);
        const auto restore = qScopeGuard([&] { QApplication::setPalette(appPalette); });

        TLabResultsForm form(nullptr,
                             {V(QStringLiteral("AST"), QStringLiteral("24"), QStringLiteral("%")),
                              V(QStringLiteral("ALT"), QStringLiteral("25"), QStringLiteral("%"))},
                             QString(), QString());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Another window has the focus.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!form.isActiveWindow());
        QTreeWidget* tree = form.FLV;
        tree->setCurrentItem(tree->topLevelItem(0));

        const QImage image = tree->viewport()->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        QStyleOptionViewItem option;
        option.initFrom(tree);
        const QColor grid = QColor::fromRgba(static_cast<QRgb>(
            tree->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, tree)));
        const QRect row1 = tree->visualRect(tree->model()->index(1, 0));
        const int col0Right = tree->columnWidth(0) - 1;
        // Vertical line at the right of the first cell, horizontal line under the row.
        QCOMPARE(PixelAt(image, ratio, col0Right, row1.center().y()), grid);
        QCOMPARE(PixelAt(image, ratio, col0Right - 4, row1.bottom()), grid);

        // The selected row keeps its highlight while another window has the focus.
        const int blankX = tree->columnWidth(0) + tree->columnWidth(1) + tree->columnWidth(2) - 4;
        const QRect row0 = tree->visualRect(tree->model()->index(0, 2));
        const QColor highlight = greyInactive.color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(PixelAt(image, ratio, blankX, row0.center().y()), highlight);
        QVERIFY(PixelAt(image, ratio, blankX, row1.center().y()) != highlight);
    }

    // ---- layout

    void layout() {
        TLabResultsForm form(nullptr, ExampleValues(), QStringLiteral("2024/05/01"),
                             QStringLiteral("中央病院"));
        const QFontMetrics fm(form.font());
        const int h = fm.height();
        const int rowH = h + 13;
        QCOMPARE(form.size(), QSize(440, 520));

        // Top band.
        const QWidget* top = form.lblExamDate->parentWidget();
        QCOMPARE(top->geometry(), QRect(0, 0, 440, 2 * h + 18));
        QCOMPARE(form.lblExamDate->pos(), QPoint(12, 5));
        QCOMPARE(form.lblInstitution->pos(), QPoint(12, 5 + h + 4));

        // Bottom band and its buttons.
        const QWidget* bottom = form.btnCopy->parentWidget();
        const int bottomH = rowH + 18;
        QCOMPARE(bottom->geometry(), QRect(0, 520 - bottomH, 440, bottomH));
        const int copyW =
            std::max(fm.horizontalAdvance(QStringLiteral("📋 表をコピー(TSV)")) + 24, 160);
        const int closeW = std::max(fm.horizontalAdvance(QStringLiteral("閉じる")) + 24, 90);
        QCOMPARE(form.btnCopy->geometry(), QRect(12, 9, copyW, rowH));
        QCOMPARE(form.btnClose->geometry(), QRect(440 - closeW - 12, 9, closeW, rowH));

        // The table fills the rest; its columns.
        QCOMPARE(form.FLV->geometry(), QRect(0, top->height(), 440, 520 - top->height() - bottomH));
        QCOMPARE(form.FLV->columnWidth(0),
                 fm.horizontalAdvance(QStringLiteral("ヘモグロビンA1c")) + 20);
        QCOMPARE(form.FLV->columnWidth(1), fm.horizontalAdvance(QStringLiteral("0000.00")) + 24);
        QCOMPARE(form.FLV->columnWidth(2), fm.horizontalAdvance(QStringLiteral("mg/dL")) + 24);

        // Resized, the bands stay docked and the close button stays at the right edge.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(600, 700);
        QTRY_COMPARE(form.size(), QSize(600, 700));
        QCOMPARE(bottom->geometry(), QRect(0, 700 - bottomH, 600, bottomH));
        QCOMPARE(form.btnClose->geometry(), QRect(600 - closeW - 12, 9, closeW, rowH));
        QCOMPARE(form.btnCopy->geometry(), QRect(12, 9, copyW, rowH));
        QCOMPARE(form.FLV->geometry(), QRect(0, top->height(), 600, 700 - top->height() - bottomH));
        QCOMPARE(top->width(), 600);
    }

    // The line under the table shows all of its text: it wraps between names, a list too
    // long for a third of the window scrolls instead of squeezing the table, and a name too
    // long for a line scrolls sideways instead of being cut.
    void notFoundLayout_data() {
        QTest::addColumn<QStringList>("notFound");
        QTest::addColumn<bool>("scrolls");
        QTest::addColumn<bool>("sideways");
        const QStringList some{QStringLiteral("ALT"),
                               QStringLiteral("HDL-C"),
                               QStringLiteral("LDL-C"),
                               QStringLiteral("TG"),
                               QStringLiteral("Cr"),
                               QStringLiteral("BS"),
                               QStringLiteral("ヘモグロビンA1c"),
                               QStringLiteral("クレアチニン(血清)"),
                               QStringLiteral("γ-GTP")};
        QTest::newRow("two lines") << some << false << false;
        QStringList many;
        for (int i = 0; i < 20; ++i)
            many << some;
        QTest::newRow("more than a third of the window") << many << true << false;
        QTest::newRow("a name without a break")
            << QStringList{QStringLiteral("TG"), QStringLiteral("Ab").repeated(60)} << false
            << true;
    }
    void notFoundLayout() {
        QFETCH(QStringList, notFound);
        QFETCH(bool, scrolls);
        QFETCH(bool, sideways);
        TLabResultsForm form(nullptr, ExampleValues(), QStringLiteral("2024/05/01"),
                             QStringLiteral("中央病院"), notFound);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QWidget* top = form.lblExamDate->parentWidget();
        const QWidget* bottom = form.btnCopy->parentWidget();
        const QLabel* label = form.lblNotFound;
        const QWidget* viewport = form.pnlNotFound->viewport();
        for (const QSize size : {QSize(440, 520), QSize(600, 700)}) {
            form.resize(size);
            QTRY_COMPARE(form.size(), size);
            // Docked between the table and the buttons, the window's full width.
            const QRect note = form.pnlNotFound->geometry();
            QCOMPARE(form.FLV->geometry(),
                     QRect(0, top->height(), size.width(), note.top() - top->height()));
            QCOMPARE(note.left(), 0);
            QCOMPARE(note.width(), size.width());
            QCOMPARE(note.bottom() + 1, bottom->y());
            const int between = size.height() - top->height() - bottom->height();
            QVERIFY(note.height() > QFontMetrics(form.font()).height());
            // Every line is inside the label; what the note does not show, it scrolls to.
            QVERIFY(label->height() >= label->heightForWidth(label->width()));
            QCOMPARE(form.pnlNotFound->verticalScrollBar()->isVisible(), scrolls);
            QCOMPARE(form.pnlNotFound->horizontalScrollBar()->isVisible(), sideways);
            if (scrolls)
                QCOMPARE(note.height(), between / 3);
            else
                QCOMPARE(viewport->height(), label->height());
            if (sideways)
                QCOMPARE(form.pnlNotFound->horizontalScrollBar()->maximum(),
                         label->width() - viewport->width());
            else
                QCOMPARE(label->width(), viewport->width());
        }
    }

    void placedOverOwner_data() {
        QTest::addColumn<QRect>("owner");
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("centred") << QRect(avail.center() - QPoint(300, 280), QSize(600, 560));
        QTest::newRow("owner hanging off the bottom right")
            << QRect(avail.bottomRight() - QPoint(200, 150), QSize(600, 560));
    }
    void placedOverOwner() {
        QFETCH(QRect, owner);
        QWidget ownerWindow;
        ownerWindow.setGeometry(owner);
        TLabResultsForm form(&ownerWindow, ExampleValues(), QString(), QString());
        QVERIFY(form.isWindow());
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect placed(form.pos(), form.size());
        if (avail.contains(QRect(owner.center() - QPoint(220, 260), form.size()))) {
            QVERIFY(qAbs(placed.center().x() - owner.center().x()) <= 1);
            QVERIFY(qAbs(placed.center().y() - owner.center().y()) <= 1);
        } else {
            QVERIFY2(avail.contains(placed), "the window stays on the screen");
        }
    }

    // ---- copy

    void copyPutsTheTableOnTheClipboard() {
        QApplication::clipboard()->setText(QStringLiteral("earlier text"));
        TLabResultsForm form(nullptr,
                             ExampleValues() << V(QStringLiteral("LDL\tchol"),
                                                  QStringLiteral(" 120 "), QStringLiteral("mg/dL"),
                                                  QStringLiteral("<140"), QStringLiteral("H")),
                             QStringLiteral("  2024/05/01 "), QStringLiteral("中央病院\t"),
                             {QStringLiteral("TG")});
        form.show();
        form.btnCopy->click();
        QCOMPARE(QApplication::clipboard()->text(),
                 Head(QStringLiteral("2024/05/01"), QStringLiteral("中央病院")) +
                     QStringLiteral("HbA1c\t6.2\t%\r\nALT\t25\tU/L\r\nLDL chol\t 120 \tmg/dL\r\n"));
        QCOMPARE(MessageTexts(), QStringList{CopiedMessage});
        QCOMPARE(FMessages[0].Parent, &form);
        QVERIFY(form.isVisible());
    }

    void copyReportsAClipboardThatDidNotKeepTheText() {
        // Another program takes the clipboard the moment the table lands on it.
        TLabResultsForm form(nullptr, ExampleValues(), QString(), QString());
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(clipboard, &QClipboard::dataChanged, this, [clipboard, connection] {
            QObject::disconnect(*connection);
            clipboard->setText(QStringLiteral("someone else's text"));
        });
        form.btnCopy->click();
        QObject::disconnect(*connection);
        QCOMPARE(MessageTexts(), QStringList{CopyFailedMessage});
    }

    // ---- ShowLabResults

    void showWithNothingPresent_data() {
        QTest::addColumn<TLabRows>("values");
        QTest::newRow("no values") << TLabRows{};
        QTest::newRow("blank and control-character values")
            << Rows({V(QStringLiteral("AST"), QString(), QStringLiteral("U/L")),
                     V(QStringLiteral("ALT"), QStringLiteral(" \t\r\n "), QStringLiteral("U/L"),
                       QStringLiteral("5-40"), QStringLiteral("H"))});
    }
    void showWithNothingPresent() {
        QFETCH(TLabRows, values);
        QWidget owner;
        int runs = 0;
        Dialogs::SetRunner([&runs](QDialog&) { return ++runs, int(QDialog::Rejected); });
        ShowLabResults(&owner, values.Values, QStringLiteral("2024/05/01"),
                       QStringLiteral("中央病院"), {QStringLiteral("AST"), QStringLiteral("ALT")});
        QCOMPARE(runs, 0);
        QCOMPARE(MessageTexts(), QStringList{NoValuesMessage});
        QCOMPARE(FMessages[0].Parent, &owner);
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
    }

    void showRunsTheFormModallyAndDestroysIt() {
        QWidget owner;
        QPointer<TLabResultsForm> seen;
        int runs = 0;
        QStringList rows;
        QString caption;
        QString note;
        QWidget* parent = nullptr;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            ++runs;
            seen = qobject_cast<TLabResultsForm*>(&ADialog);
            if (seen) {
                rows = RowTexts(seen->FLV);
                caption = seen->windowTitle();
                note = seen->lblNotFound->text();
                parent = seen->parentWidget();
            }
            return int(QDialog::Rejected);
        });
        ShowLabResults(&owner, ExampleValues(), QStringLiteral(" 2024/05/01 "), QString(),
                       {QStringLiteral("AST"), QStringLiteral("TG")});
        QCOMPARE(runs, 1);
        QCOMPARE(parent, &owner);
        QVERIFY(!seen);
        QCOMPARE(caption, QStringLiteral("検査項目抽出結果（2項目を検出）"));
        QCOMPARE(rows, (QStringList{QStringLiteral("HbA1c|6.2|%"), QStringLiteral("ALT|25|U/L")}));
        QCOMPARE(note, QStringLiteral("未検出: AST、TG"));
        QVERIFY(FMessages.isEmpty());
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
    }

    void showSurvivesTheOwnerGoingDuringTheRun() {
        auto owner = std::make_unique<QWidget>();
        QPointer<QDialog> seen;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            seen = &ADialog;
            owner.reset(); // takes its child window with it
            return int(QDialog::Rejected);
        });
        ShowLabResults(owner.get(), ExampleValues(), QString(), QString());
        QVERIFY(!owner);
        QVERIFY(!seen);
    }

    void closingEndsTheModalRun_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("close button") << true;
        QTest::newRow("title bar close box") << false;
    }
    void closingEndsTheModalRun() {
        // The real modal run: the form closes itself from inside its event loop.
        QFETCH(bool, byButton);
        QWidget owner;
        QPointer<TLabResultsForm> seen;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* form = qobject_cast<TLabResultsForm*>(QApplication::activeModalWidget());
            if (!form)
                return;
            seen = form;
            closer.stop();
            if (byButton)
                form->btnClose->click();
            else
                form->close();
        });
        closer.start();
        // Never block on a form that would not close.
        QTimer::singleShot(10000, this, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->hide();
        });
        ShowLabResults(&owner, ExampleValues(), QString(), QString());
        QVERIFY(!closer.isActive());
        QVERIFY(!seen);
    }

    void defaultRunnerIsExec() {
        QDialog dialog;
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.done(7); });
        QCOMPARE(Dialogs::RunModal(dialog), 7);
    }
};

QTEST_MAIN(TestLabResults)
#include "tst_labresults.moc"
