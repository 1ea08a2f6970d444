// The saved-file history window on the offscreen platform over real folders, with its
// modal run through the seams.
#include "files/uHistoryScan.h"
#include "ui/uDesktop.h"
#include "ui/uDialogs.h"
#include "ui/uHistoryUI.h"
#include "ui/uMessages.h"

#include "uHistoryFiles.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace HistoryScan;

namespace {

const QString MissingFolderMessage = QStringLiteral(
    "保存フォルダが見つかりません。\r\n「接続設定」の保存フォルダをご確認ください。");
const QString NothingSelectedMessage = QStringLiteral("開くファイルを一覧から選んでください。");
const QString VanishedMessage =
    QStringLiteral("ファイルが見つかりません（移動または削除された可能性があります）:\r\n");
const QString UnreadableMessage = QStringLiteral("フォルダを読み取れませんでした: ");

// Row i of the table as "karte|date|kind|name|size".
QStringList RowTexts(const THistoryForm& AForm) {
    const QAbstractItemModel* model = AForm.FLV->model();
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        rows << cells.join(u'|');
    }
    return rows;
}

QStringList RowNames(const THistoryForm& AForm) {
    const QAbstractItemModel* model = AForm.FLV->model();
    QStringList names;
    for (int r = 0; r < model->rowCount(); ++r)
        names << model->index(r, 3).data().toString();
    return names;
}

int SelectedRow(const THistoryForm& AForm) {
    const QModelIndexList rows = AForm.FLV->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void SelectRow(THistoryForm& AForm, int ARow) {
    AForm.FLV->selectionModel()->setCurrentIndex(AForm.FLV->model()->index(ARow, 0),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
}

// Four listed files at minutes 0 to 3 after T0, one unlisted: the table's example.
QString MakeExampleFolder(const QTemporaryDir& ADir) {
    const QString f = ADir.path();
    const bool made =
        MakeFile(f + QStringLiteral("/pt12345_IMG_0001.jpg"), 2048, T0.addSecs(180)) &&
        MakeFile(f + QStringLiteral("/sub/12345_検査_20240501_093015.txt"), 1025,
                 T0.addSecs(120)) &&
        MakeFile(f + QStringLiteral("/OCR_処方_20240501_093015.txt"), 0, T0.addSecs(60)) &&
        MakeFile(f + QStringLiteral("/deep/er/SCAN.PDF"), 10485760, T0) &&
        MakeFile(f + QStringLiteral("/memo.docx"), 10, T0.addSecs(600));
    return made ? f : QString();
}

const QStringList ExampleRows{
    QStringLiteral("12345|2024/05/01 09:33|画像|pt12345_IMG_0001.jpg|2 KB"),
    QStringLiteral("12345|2024/05/01 09:32|検査|12345_検査_20240501_093015.txt|2 KB"),
    QStringLiteral("|2024/05/01 09:31|処方|OCR_処方_20240501_093015.txt|0 KB"),
    QStringLiteral("|2024/05/01 09:30|PDF|SCAN.PDF|10,240 KB")};

// Six listed files, newest first in this order, for the search.
const QStringList SearchNames{QStringLiteral("pt12345_a.jpg"),
                              QStringLiteral("12345_検査_20240501_093015.txt"),
                              QStringLiteral("99_処方_20240501_093015.txt"),
                              QStringLiteral("notes 2024.txt"),
                              QStringLiteral("検査メモ.pdf"),
                              QStringLiteral("IMG_0042.PNG")};

QString MakeSearchFolder(const QTemporaryDir& ADir) {
    for (int i = 0; i < SearchNames.size(); ++i) {
        if (!MakeFile(ADir.filePath(SearchNames[i]), 100, T0.addSecs(-60 * i)))
            return QString();
    }
    return ADir.path();
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
    struct TMessage {
        QWidget* Parent;
        QString Text;
    };
    QList<TMessage> FMessages;
    QStringList FOpened;

    QStringList MessageTexts() const {
        QStringList texts;
        for (const TMessage& m : FMessages)
            texts << m.Text;
        return texts;
    }

private Q_SLOTS:
    void initTestCase() {
#ifdef Q_OS_UNIX
        // A zone with summer time, away from UTC, so that a wrong offset shows.
        qputenv("TZ", "Europe/Berlin");
        tzset();
#endif
        // The texts below are those of Japanese regional settings.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        Messages::SetHandler([this](QWidget* AParent, const QString& AText) {
            FMessages.append({AParent, AText});
        });
        Desktop::SetOpener([this](const QString& APath) {
            FOpened << APath;
            return true;
        });
    }
    void init() {
        FMessages.clear();
        FOpened.clear();
        Dialogs::SetRunner({});
    }
    void cleanup() {
        Dialogs::SetRunner({});
    }

    // ---- the window

    // The scan keeps at most 5000 files; the window's counts are of those.
    void windowWithMoreThan5000Files() {
        QTemporaryDir dir;
        for (int i = 0; i < 5100; ++i) {
            const QString path = dir.path() + QStringLiteral("/d%1/pt%2_x.jpg").arg(i / 100).arg(i);
            QVERIFY(MakeFile(path, 1, T0.addSecs(i)));
        }
        THistoryForm form(nullptr, dir.path());
        QCOMPARE(form.All().size(), 5000);
        QCOMPARE(form.FLV->model()->rowCount(), 5000);
        QCOMPARE(form.FLblCount->text(),
                 QStringLiteral("5000件\u3000（新しい5000件のみ表示、古い100件は省略）") +
                     dir.path());
        // With a search, the total is the 5000 kept.
        form.FEdtFind->setText(QStringLiteral("PT1"));
        const auto matching = std::count_if(form.All().begin(), form.All().end(), [](auto& e) {
            return e.Name.startsWith(QStringLiteral("pt1"));
        });
        QVERIFY(matching > 0);
        QCOMPARE(form.FLV->model()->rowCount(), int(matching));
        QCOMPARE(form.FLblCount->text(),
                 QStringLiteral("%1件 / 全5000件\u3000（新しい5000件のみ表示、古い100件は省略）")
                     .arg(matching));
        QVERIFY(FMessages.isEmpty());
    }

#ifdef Q_OS_LINUX
    void windowOverAFolderThatCannotBeListed() {
        QTemporaryDir dir;
        QVERIFY(MakeFile(dir.filePath(QStringLiteral("pt1_a.jpg"))));
        const QString systemText = QString::fromLocal8Bit(std::strerror(EMFILE));
        // When the folder cannot be listed, the window stays, with no rows and the
        // empty-folder text.
        THistoryForm form(nullptr, dir.path());
        // Once while files can still be opened: a sanitizer build checks the type behind
        // each call through a pipe the first time.
        form.btnReload->click();
        QCOMPARE(form.FLV->model()->rowCount(), 1);
        {
            const TNoMoreFiles limit;
            form.btnReload->click();
        }
        QCOMPARE(MessageTexts(), QStringList{UnreadableMessage + systemText});
        QCOMPARE(FMessages[0].Parent, &form);
        QCOMPARE(form.FLV->model()->rowCount(), 0);
        QVERIFY(form.All().isEmpty());
        QCOMPARE(form.FLblCount->text(), QStringLiteral("表示できるファイルがありません（") +
                                             dir.path() + QStringLiteral("）"));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }
#endif

    void windowShowsTheFiles() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        QCOMPARE(form.windowTitle(), QStringLiteral("過去のファイルを開く"));
        QCOMPARE(RowTexts(form), ExampleRows);
        QCOMPARE(form.Shown().size(), 4);
        QCOMPARE(form.Shown()[3].Path, folder + QStringLiteral("/deep/er/SCAN.PDF"));
        QCOMPARE(SelectedRow(form), 0);
        QCOMPARE(form.FLblCount->text(), QStringLiteral("4件\u3000") + folder);
        QCOMPARE(form.FLblCount->toolTip(), folder);
        QVERIFY(form.Selected().isEmpty());
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        const QAbstractItemModel* model = form.FLV->model();
        QStringList captions;
        for (int c = 0; c < model->columnCount(); ++c)
            captions << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(captions, (QStringList{"カルテ番号", "日時", "種別", "ファイル名", "サイズ"}));
        QCOMPARE(model->flags(model->index(0, 3)) & Qt::ItemIsEditable, Qt::NoItemFlags);
        QCOMPARE(form.lblFind->text(), QStringLiteral("カルテ番号／ファイル名で検索"));
        QStringList buttons;
        for (QPushButton* b :
             {form.btnClear, form.btnReload, form.btnOpen, form.btnOpenFolder, form.btnClose})
            buttons << b->text();
        QCOMPARE(buttons, (QStringList{"クリア", "再読込", "開く", "フォルダを開く", "閉じる"}));
    }

    void emptyFolderText_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("folder"); // inside the temporary folder
        QTest::newRow("empty folder") << QStringList{} << "";
        QTest::newRow("only files that are not listed")
            << QStringList{"report.docx", "sub/scan.heic", "README"} << "";
        QTest::newRow("missing folder: no message either") << QStringList{} << "/missing";
        QTest::newRow("a file, not a folder") << QStringList{"a.txt"} << "/a.txt";
    }
    void emptyFolderText() {
        QFETCH(QStringList, files);
        QFETCH(QString, folder);
        QTemporaryDir dir;
        for (const QString& f : files)
            QVERIFY(MakeFile(dir.filePath(f)));
        folder.prepend(dir.path());
        THistoryForm form(nullptr, folder);
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(form.FLV->model()->rowCount(), 0);
        QCOMPARE(SelectedRow(form), -1);
        const QString nothing =
            QStringLiteral("表示できるファイルがありません（") + folder + QStringLiteral("）");
        QCOMPARE(form.FLblCount->text(), nothing);
        // A search does not change the text while there is nothing at all.
        form.FEdtFind->setText(QStringLiteral("x"));
        QCOMPARE(form.FLblCount->text(), nothing);
        QCOMPARE(form.FLblCount->toolTip(), folder);
        // Opening finds nothing selected, and the folder may still be shown.
        form.btnOpen->click();
        QCOMPARE(MessageTexts(), QStringList{NothingSelectedMessage});
        form.btnOpenFolder->click();
        QCOMPARE(FOpened, QStringList{folder});
    }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        const QStringList& all = SearchNames;
        QTest::newRow("empty") << "" << all;
        QTest::newRow("blanks only") << " \t  " << all;
        QTest::newRow("PT12 finds the lower-case name") << "PT12" << QStringList{all[0]};
        QTest::newRow("12 by number and name") << "12" << QStringList{all[0], all[1]};
        QTest::newRow("blanks around") << "  12\t" << QStringList{all[0], all[1]};
        QTest::newRow("patient number alone") << "99" << QStringList{all[2]};
        QTest::newRow("kanji in names") << "検査" << QStringList{all[1], all[4]};
        QTest::newRow("capital extension") << ".pdf" << QStringList{all[4]};
        QTest::newRow("name in capitals") << "img_0042" << QStringList{all[5]};
        QTest::newRow("inner blank kept") << "notes 2024" << QStringList{all[3]};
        QTest::newRow("ideographic space is not trimmed") << "\u3000" << QStringList{};
        QTest::newRow("kind is not searched") << "画像" << QStringList{};
        QTest::newRow("date is not searched") << "2024/05" << QStringList{};
        QTest::newRow("size is not searched") << "KB" << QStringList{};
        QTest::newRow("full-width letters are not folded") << "ＰＴ" << QStringList{};
    }
    void search() {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        const QString folder = MakeSearchFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.FEdtFind->setText(QStringLiteral("zzz")); // so that every row below is a change
        QCOMPARE(form.FLV->model()->rowCount(), 0);
        form.FEdtFind->setText(text);
        QCOMPARE(RowNames(form), names);
        QCOMPARE(Names(form.Shown()), names);
        QCOMPARE(SelectedRow(form), names.isEmpty() ? -1 : 0);
        const QString label = QueryOf(text).isEmpty()
                                  ? QStringLiteral("6件\u3000") + folder
                                  : QStringLiteral("%1件 / 全6件").arg(names.size());
        QCOMPARE(form.FLblCount->text(), label);
        QCOMPARE(form.FLblCount->toolTip(), folder);
        QCOMPARE(Names(Filter(form.All(), QueryOf(text))), names);
    }

    void openChoosesTheSelectedFile_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("open button") << "button";
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("Enter in the table") << "return";
        QTest::newRow("keypad Enter in the table") << "enter";
    }
    void openChoosesTheSelectedFile() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        SelectRow(form, 1);
        const QString chosen = folder + QStringLiteral("/sub/12345_検査_20240501_093015.txt");
        QCOMPARE(form.Shown()[1].Path, chosen);
        if (how == u"button") {
            form.btnOpen->click();
        } else if (how == u"double-click") {
            const QRect cell = form.FLV->visualRect(form.FLV->model()->index(1, 3));
            QVERIFY(cell.isValid());
            // As the system delivers it: a click, then the second press as a double-click.
            QTest::mouseClick(form.FLV->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(form.FLV->viewport(), Qt::LeftButton, {}, cell.center());
        } else if (how == u"return") {
            QTest::keyClick(form.FLV, Qt::Key_Return);
        } else {
            QTest::keyClick(form.FLV, Qt::Key_Enter, Qt::KeypadModifier);
        }
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.Selected(), chosen);
        QVERIFY(!form.isVisible());
        QVERIFY(FMessages.isEmpty());
    }

    void keysThatDoNotClose_data() {
        QTest::addColumn<bool>("inTable");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Enter in the search box") << false << int(Qt::Key_Return) << 0;
        QTest::newRow("keypad Enter in the search box")
            << false << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Escape in the search box") << false << int(Qt::Key_Escape) << 0;
        QTest::newRow("Escape in the table") << true << int(Qt::Key_Escape) << 0;
    }
    void keysThatDoNotClose() {
        // No button is the default or the cancel button.
        QFETCH(bool, inTable);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (QPushButton* b : form.findChildren<QPushButton*>())
            QVERIFY2(!b->isDefault(), qPrintable(b->text()));
        QWidget* target = inTable ? static_cast<QWidget*>(form.FLV) : form.FEdtFind;
        target->setFocus();
        form.FEdtFind->setText(QStringLiteral("12345"));
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY(form.isVisible());
        QVERIFY(form.Selected().isEmpty());
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(form.FEdtFind->text(), QStringLiteral("12345"));
        QCOMPARE(form.FLV->model()->rowCount(), 2);
    }

    void openWithNothingSelected() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.FLV->selectionModel()->clearSelection();
        form.btnOpen->click();
        QCOMPARE(MessageTexts(), QStringList{NothingSelectedMessage});
        QCOMPARE(FMessages[0].Parent, &form);
        QVERIFY(form.Selected().isEmpty());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        // The same with no rows at all.
        FMessages.clear();
        form.FEdtFind->setText(QStringLiteral("no such file"));
        QTest::keyClick(form.FLV, Qt::Key_Return);
        QCOMPARE(MessageTexts(), QStringList{NothingSelectedMessage});
        QVERIFY(form.Selected().isEmpty());
    }

    void openAVanishedFile() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.FEdtFind->setText(QStringLiteral("12345"));
        QCOMPARE(form.FLV->model()->rowCount(), 2);
        const QString gone = form.Shown()[0].Path;
        QVERIFY(QFile::remove(gone));
        form.btnOpen->click();
        QCOMPARE(MessageTexts(), QStringList{VanishedMessage + gone});
        QCOMPARE(FMessages[0].Parent, &form);
        // Scanned again: the rest stays, the search too, and the window stays open.
        QVERIFY(form.Selected().isEmpty());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.FEdtFind->text(), QStringLiteral("12345"));
        QCOMPARE(RowTexts(form), QStringList{ExampleRows[1]});
        QCOMPARE(form.All().size(), 3);
        QCOMPARE(form.FLblCount->text(), QStringLiteral("1件 / 全3件"));
        QCOMPARE(SelectedRow(form), 0);
        // The folder lost nothing else.
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/memo.docx")));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    void clearEmptiesTheSearch() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.FLV->setFocus();
        form.FEdtFind->setText(QStringLiteral("pdf"));
        QCOMPARE(form.FLV->model()->rowCount(), 1);
        form.btnClear->click();
        QVERIFY(form.FEdtFind->text().isEmpty());
        QCOMPARE(RowTexts(form), ExampleRows);
        QCOMPARE(form.FLblCount->text(), QStringLiteral("4件\u3000") + folder);
        QTRY_VERIFY(form.FEdtFind->hasFocus());
    }

    void reloadScansAgain() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QVERIFY(!folder.isEmpty());
        THistoryForm form(nullptr, folder);
        form.FEdtFind->setText(QStringLiteral("12345"));
        QVERIFY(MakeFile(folder + QStringLiteral("/new/12345_20240601_080000.txt"), 5000,
                         T0.addDays(31)));
        QVERIFY(QFile::remove(folder + QStringLiteral("/pt12345_IMG_0001.jpg")));
        QCOMPARE(form.FLV->model()->rowCount(), 2); // nothing changes before the reload
        form.btnReload->click();
        QCOMPARE(RowTexts(form), (QStringList{QStringLiteral("12345|2024/06/01 09:30|テキスト|"
                                                             "12345_20240601_080000.txt|5 KB"),
                                              ExampleRows[1]}));
        QCOMPARE(form.FLblCount->text(), QStringLiteral("2件 / 全4件"));
        QCOMPARE(form.FEdtFind->text(), QStringLiteral("12345"));
        QVERIFY(FMessages.isEmpty());
    }

    void openFolderAsksTheDesktop() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir) + u'/'; // passed on as given
        THistoryForm form(nullptr, folder);
        form.btnOpenFolder->click();
        QCOMPARE(FOpened, QStringList{folder});
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(form.Selected().isEmpty());
        // The desktop refusing is not reported.
        Desktop::SetOpener([this](const QString& APath) { return FOpened << APath, false; });
        form.btnOpenFolder->click();
        Desktop::SetOpener([this](const QString& APath) { return FOpened << APath, true; });
        QCOMPARE(FOpened.size(), 2);
        QVERIFY(FMessages.isEmpty());
    }

    void closeIsCancel_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("close button") << true;
        QTest::newRow("title bar close box") << false;
    }
    void closeIsCancel() {
        QFETCH(bool, byButton);
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        THistoryForm form(nullptr, folder);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        if (byButton)
            form.btnClose->click();
        else
            form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(form.Selected().isEmpty());
    }

    void bandsFollowTheWidth() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        THistoryForm form(nullptr, folder);
        QCOMPARE(form.size(), QSize(820, 560));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const QSize size : {QSize(1000, 700), QSize(700, 400)}) {
            form.resize(size);
            const QRect table = form.FLV->geometry();
            QCOMPARE(table.width(), size.width());
            QVERIFY(table.top() > form.FEdtFind->geometry().bottom());
            QVERIFY(table.bottom() < form.btnOpen->mapTo(&form, QPoint(0, 0)).y());
            const QRect close(form.btnClose->mapTo(&form, QPoint(0, 0)), form.btnClose->size());
            QCOMPARE(close.right() + 1, size.width() - 12);
            const QRect count(form.FLblCount->mapTo(&form, QPoint(0, 0)), form.FLblCount->size());
            QCOMPARE(count.right() + 1, size.width() - 12);
            QCOMPARE(count.left(), form.btnReload->geometry().right() + 1 + 8 + 6);
        }
    }

    void placedOverOwner_data() {
        QTest::addColumn<QRect>("owner");
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("centred") << QRect(avail.center() - QPoint(450, 350), QSize(900, 700));
        QTest::newRow("owner hanging off the bottom right")
            << QRect(avail.bottomRight() - QPoint(200, 150), QSize(900, 700));
    }
    void placedOverOwner() {
        QFETCH(QRect, owner);
        QTemporaryDir dir;
        QWidget ownerWindow;
        ownerWindow.setGeometry(owner);
        THistoryForm form(&ownerWindow, dir.path());
        QVERIFY(form.isWindow());
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect placed(form.pos(), form.size());
        if (avail.contains(
                QRect(owner.center() - QPoint(form.width() / 2, form.height() / 2), form.size()))) {
            QVERIFY(qAbs(placed.center().x() - owner.center().x()) <= 1);
            QVERIFY(qAbs(placed.center().y() - owner.center().y()) <= 1);
        } else {
            // The title bar stays in reach (the offscreen screen is smaller than the window).
            QVERIFY2(avail.contains(placed.topLeft()), "the top left corner is on the screen");
            QVERIFY(placed.right() <= avail.right() || placed.left() == avail.left());
            QVERIFY(placed.bottom() <= avail.bottom() || placed.top() == avail.top());
        }
    }

    // ---- ShowHistory

    void showHistoryWithoutAFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << " \t ";
        QTest::newRow("missing") << "missing";
        QTest::newRow("a file") << "file.txt";
        QTest::newRow("folder with a blank before it") << " dir";
    }
    void showHistoryWithoutAFolder() {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QVERIFY(MakeFile(dir.filePath(QStringLiteral("file.txt"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("dir"))));
        if (folder == u"missing" || folder == u"file.txt")
            folder = dir.filePath(folder);
        else if (folder == u" dir")
            folder = u' ' + dir.filePath(QStringLiteral("dir"));
        QWidget owner;
        int runs = 0;
        Dialogs::SetRunner([&runs](QDialog&) { return ++runs, int(QDialog::Accepted); });
        QString selected = QStringLiteral("left over");
        QVERIFY(!ShowHistory(&owner, folder, selected));
        QVERIFY(selected.isEmpty());
        QCOMPARE(runs, 0);
        QCOMPARE(MessageTexts(), QStringList{MissingFolderMessage});
        QCOMPARE(FMessages[0].Parent, &owner);
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
    }

    void showHistoryHandsBackTheChoice_data() {
        QTest::addColumn<bool>("open");
        QTest::newRow("opened") << true;
        QTest::newRow("closed") << false;
    }
    void showHistoryHandsBackTheChoice() {
        QFETCH(bool, open);
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QWidget owner;
        QPointer<THistoryForm> seen;
        QWidget* parent = nullptr;
        QStringList rows;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            seen = qobject_cast<THistoryForm*>(&ADialog);
            if (!seen)
                return int(QDialog::Rejected);
            parent = seen->parentWidget();
            rows = RowTexts(*seen);
            SelectRow(*seen, 3);
            (open ? seen->btnOpen : seen->btnClose)->click();
            return seen->result();
        });
        QString selected = QStringLiteral("left over");
        const bool chosen = ShowHistory(&owner, folder, selected);
        QCOMPARE(chosen, open);
        QCOMPARE(selected, open ? folder + QStringLiteral("/deep/er/SCAN.PDF") : QString());
        QCOMPARE(parent, &owner);
        QCOMPARE(rows, ExampleRows);
        QVERIFY(!seen); // destroyed before returning
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
        QVERIFY(FMessages.isEmpty());
    }

    void showHistorySurvivesTheOwnerGoingDuringTheRun() {
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        auto owner = std::make_unique<QWidget>();
        QPointer<QDialog> seen;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            seen = &ADialog;
            auto* form = qobject_cast<THistoryForm*>(&ADialog);
            form->btnOpen->click(); // chosen, and then the owner goes
            owner.reset();
            return int(QDialog::Accepted);
        });
        QString selected;
        QVERIFY(!ShowHistory(owner.get(), folder, selected));
        QVERIFY(selected.isEmpty());
        QVERIFY(!owner);
        QVERIFY(!seen);
    }

    void showHistoryRealModalRun() {
        // The real modal run: the user opens the first row from inside its event loop.
        QTemporaryDir dir;
        const QString folder = MakeExampleFolder(dir);
        QWidget owner;
        QTimer opener;
        opener.setInterval(10);
        connect(&opener, &QTimer::timeout, this, [&] {
            auto* form = qobject_cast<THistoryForm*>(QApplication::activeModalWidget());
            if (!form)
                return;
            opener.stop();
            QTest::keyClick(form->FLV, Qt::Key_Return);
        });
        opener.start();
        // Never block on a form that would not close.
        QTimer::singleShot(10000, this, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->hide();
        });
        QString selected;
        QVERIFY(ShowHistory(&owner, folder, selected));
        QCOMPARE(selected, folder + QStringLiteral("/pt12345_IMG_0001.jpg"));
        QVERIFY(!opener.isActive());
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
