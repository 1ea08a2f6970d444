// The extraction item manager against a real scanlume-local: loading, the table edits,
// the catalogue, reset, save, service failures, closing, and its modal run.
#include "service/uApiClient.h"
#include "ui/uDialogs.h"
#include "ui/uItemManagerUI.h"
#include "ui/uMessages.h"

#include "uLocalService.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

namespace {

const QString ItemsPath = QStringLiteral("/api/extraction/items");
const QString Email = QStringLiteral("demo@example.com");
const QString Password = QStringLiteral("secret");
const QString Title = QStringLiteral("抽出項目の設定");
const QString LoadFailed = QStringLiteral("抽出項目の取得に失敗しました: ");
const QString SaveFailed = QStringLiteral("保存に失敗しました: ");
const QString Saved = QStringLiteral("抽出項目を保存しました。");
const QString NoName = QStringLiteral("項目名を入力してください。");
const QString NoRow = QStringLiteral("削除する項目を一覧から選択してください。");
const QString ResetQuestion =
    QStringLiteral("項目を初期状態（Excelの8項目）に戻します。よろしいですか？");

// The eight items every account starts with, as the window shows them.
const QStringList DefaultRows{
    QStringLiteral("AST|GOT, AST(GOT)"),
    QStringLiteral("ALT|GPT, ALT(GPT)"),
    QStringLiteral("HDL-C|HDLコレステロール, HDL"),
    QStringLiteral("LDL-C|LDLコレステロール, LDL"),
    QStringLiteral("TG|中性脂肪, トリグリセリド"),
    QStringLiteral("Cr|クレアチニン, クレアチニン(血清)"),
    QStringLiteral("BS|血糖, 血清血糖, グルコース, GLU"),
    QStringLiteral("HbA1c|ヘモグロビンA1c, HbA1c(NGSP)"),
};

// The same eight as the service stores them; written back before every test.
const QByteArray DefaultBody = R"js({"items":[
    {"name":"AST","aliases":["GOT","AST(GOT)"]},
    {"name":"ALT","aliases":["GPT","ALT(GPT)"]},
    {"name":"HDL-C","aliases":["HDLコレステロール","HDL"]},
    {"name":"LDL-C","aliases":["LDLコレステロール","LDL"]},
    {"name":"TG","aliases":["中性脂肪","トリグリセリド"]},
    {"name":"Cr","aliases":["クレアチニン","クレアチニン(血清)"]},
    {"name":"BS","aliases":["血糖","血清血糖","グルコース","GLU"]},
    {"name":"HbA1c","aliases":["ヘモグロビンA1c","HbA1c(NGSP)"]}]})js";

// The first rows of the service's catalogue, for expectations.
const QStringList CatalogueHead{QStringLiteral("AST"), QStringLiteral("ALT"),
                                QStringLiteral("γ-GTP"), QStringLiteral("ALP")};

QStringList RowTexts(const TItemManagerForm& AForm) {
    QStringList rows;
    for (int i = 0; i < AForm.FLV->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = AForm.FLV->topLevelItem(i);
        rows << row->text(0) + u'|' + row->text(1);
    }
    return rows;
}

// DefaultRows with some rows replaced (index -> text) and others appended.
QStringList Defaults(const QMap<int, QString>& AReplaced, const QStringList& AAppended = {}) {
    QStringList rows = DefaultRows;
    for (auto it = AReplaced.begin(); it != AReplaced.end(); ++it)
        rows[it.key()] = it.value();
    return rows + AAppended;
}

int SelectedRow(const TItemManagerForm& AForm) {
    const QModelIndexList rows = AForm.FLV->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

int FocusedRow(const TItemManagerForm& AForm) {
    const QModelIndex current = AForm.FLV->currentIndex();
    return current.isValid() ? current.row() : -1;
}

// Item lists as "name|alias, alias" lines, from a JSON body with an "items" array.
QStringList ItemLines(const QByteArray& AJson, const char* AMember = "items") {
    QStringList lines;
    const QJsonArray items = QJsonDocument::fromJson(AJson).object().value(AMember).toArray();
    for (const QJsonValue& v : items) {
        QStringList aliases;
        for (const QJsonValue& a : v.toObject().value(QStringLiteral("aliases")).toArray())
            aliases << a.toString();
        lines << v.toObject().value(QStringLiteral("name")).toString() + u'|' +
                     aliases.join(QStringLiteral(", "));
    }
    return lines;
}

} // namespace

class TestItemManager : public QObject {
    Q_OBJECT
    struct TMessage {
        QWidget* Parent;
        QString Text;
        bool Busy; // the busy cursor was still up while the box was shown
    };
    TLocalService FService;
    std::unique_ptr<TApiClient> FApi;
    QList<TMessage> FMessages;
    QStringList FQuestions;
    bool FAnswer = false;

    QStringList MessageTexts() const {
        QStringList texts;
        for (const TMessage& m : FMessages)
            texts << m.Text;
        return texts;
    }
    TAccount Account() const { return {FService.BaseUrl(), Email, Password}; }
    TLocalService::THeaders Auth() const {
        return {{"Authorization", "Bearer " + FApi->Token().toUtf8()}};
    }
    // What the service holds for the account now.
    QStringList Stored() { return ItemLines(FService.Call("GET", ItemsPath, Auth()).Body); }
    QList<TLocalService::TRecorded> ItemRequests(const QByteArray& AMethod) {
        QList<TLocalService::TRecorded> out;
        for (const auto& r : FService.Requests()) {
            if (r.Path == ItemsPath.toUtf8() && r.Method == AMethod)
                out << r;
        }
        return out;
    }
    void Script(const QString& APath, int AStatus, const QByteArray& ABody, bool ADrop = false) {
        TLocalService::TScript s;
        s.Path = APath;
        s.Status = AStatus;
        s.Body = ABody;
        if (!ABody.isEmpty())
            s.Headers = {{"Content-Type", "application/json"}};
        s.Drop = ADrop;
        FService.Script(s);
    }
    std::unique_ptr<TItemManagerForm> NewForm(bool AShow = false) {
        auto form = std::make_unique<TItemManagerForm>(nullptr, *FApi, Account());
        if (AShow) {
            form->show();
            form->activateWindow();
            if (!QTest::qWaitForWindowActive(form.get()))
                qWarning("window not active");
        }
        return form;
    }
    static QTreeWidgetItem* Row(const TItemManagerForm& AForm, const QString& AName) {
        for (int i = 0; i < AForm.FLV->topLevelItemCount(); ++i) {
            if (AForm.FLV->topLevelItem(i)->text(0) == AName)
                return AForm.FLV->topLevelItem(i);
        }
        return nullptr;
    }
    // A few steps as the user takes them: "add:NAME|ALIASES", "delete:NAME",
    // "catalog:NAME", "clear" (deletes every row), "reset" (answered Yes).
    void Apply(TItemManagerForm& AForm, const QStringList& ASteps) {
        for (const QString& step : ASteps) {
            const QString arg = step.section(u':', 1);
            if (step.startsWith(QLatin1String("add:"))) {
                AForm.FEdtName->setText(arg.section(u'|', 0, 0));
                AForm.FEdtAliases->setText(arg.section(u'|', 1));
                AForm.btnAddUpdate->click();
            } else if (step.startsWith(QLatin1String("delete:"))) {
                QTreeWidgetItem* row = Row(AForm, arg);
                QVERIFY2(row, qPrintable(step));
                AForm.FLV->setCurrentItem(row);
                AForm.btnDelete->click();
            } else if (step.startsWith(QLatin1String("catalog:"))) {
                const int line = AForm.FCboCatalog->findText(arg, Qt::MatchExactly);
                QVERIFY2(line >= 0, qPrintable(step));
                AForm.FCboCatalog->setCurrentIndex(line);
                AForm.btnAddCatalog->click();
            } else if (step == QLatin1String("clear")) {
                while (AForm.FLV->topLevelItemCount() > 0) {
                    AForm.FLV->setCurrentItem(AForm.FLV->topLevelItem(0));
                    AForm.btnDelete->click();
                }
            } else if (step == QLatin1String("reset")) {
                FAnswer = true;
                AForm.btnReset->click();
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
    }
    void ClickRow(TItemManagerForm& AForm, int ARow, int AColumn = 0,
                  Qt::KeyboardModifiers AModifiers = {}) {
        QTreeWidget* lv = AForm.FLV;
        const QRect cell = lv->visualRect(lv->model()->index(ARow, AColumn));
        QTest::mouseClick(lv->viewport(), Qt::LeftButton, AModifiers, cell.center());
    }

private Q_SLOTS:
    void initTestCase() {
        Messages::SetHandler([this](QWidget* AParent, const QString& AText) {
            FMessages.append({AParent, AText, QGuiApplication::overrideCursor() != nullptr});
        });
        Messages::SetConfirmHandler([this](QWidget*, const QString& AText) {
            FQuestions << AText;
            return FAnswer;
        });
        QVERIFY(FService.Start());
    }
    void init() {
        FMessages.clear();
        FQuestions.clear();
        FAnswer = false;
        // Never block in a modal loop; tests that want the real one set the runner empty.
        Dialogs::SetRunner([](QDialog&) { return int(QDialog::Rejected); });
        FService.Reset();
        FApi = std::make_unique<TApiClient>(FService.BaseUrl());
        QString error;
        QVERIFY2(FApi->Login(Email, Password, error), qPrintable(error));
        // Every test starts from the eight defaults, whatever the one before saved.
        const auto put = FService.Call(
            "PUT", ItemsPath,
            Auth() << qMakePair(QByteArray("Content-Type"), QByteArray("application/json")),
            DefaultBody);
        QCOMPARE(put.Status, 200);
        FService.Reset();
    }
    void cleanup() {
        Dialogs::SetRunner({});
        QVERIFY(!QGuiApplication::overrideCursor());
        for (const TMessage& m : FMessages)
            QVERIFY2(!m.Busy, qPrintable(QStringLiteral("busy cursor over: ") + m.Text));
    }

    // ---- loading

    void load_data() {
        QTest::addColumn<QByteArray>("stored"); // empty: the defaults
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("the eight defaults, in order") << QByteArray() << DefaultRows;
        QTest::newRow("an empty list") << QByteArray(R"js({"items":[]})js") << QStringList();
        QTest::newRow("as received: same name twice, blanks kept, not sorted")
            << QByteArray(
                   R"js({"items":[{"name":"ZZ","aliases":[]},{"name":"AST","aliases":["x"]},)js"
                   R"js({"name":"ast","aliases":["y"]},{"name":" TG ","aliases":[" a ","b"]}]})js")
            << QStringList{QStringLiteral("ZZ|"), QStringLiteral("AST|x"), QStringLiteral("ast|y"),
                           QStringLiteral(" TG | a , b")};
    }
    void load() {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, rows);
        if (!stored.isEmpty()) {
            QCOMPARE(FService
                         .Call("PUT", ItemsPath,
                               Auth() << qMakePair(QByteArray("Content-Type"),
                                                   QByteArray("application/json")),
                               stored)
                         .Status,
                     200);
            FService.Reset();
        }
        const auto form = NewForm();
        QCOMPARE(RowTexts(*form), rows);
        QCOMPARE(form->windowTitle(), Title);
        QVERIFY(FMessages.isEmpty());

        // One GET with the token; nothing else.
        const auto requests = FService.Requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].Method, QByteArray("GET"));
        QCOMPARE(requests[0].Path, ItemsPath.toUtf8());
        QCOMPARE(requests[0].Header("Authorization"), "Bearer " + FApi->Token().toUtf8());

        // The catalogue: every entry's name, in order, the first one picked; pick only.
        const QByteArray served = FService.Call("GET", ItemsPath, Auth()).Body;
        const QStringList catalogue = ItemLines(served, "catalog");
        QVERIFY(catalogue.size() > 30);
        QCOMPARE(form->Catalog().size(), catalogue.size());
        QCOMPARE(form->FCboCatalog->count(), catalogue.size());
        for (int i = 0; i < catalogue.size(); ++i) {
            QCOMPARE(form->FCboCatalog->itemText(i), catalogue[i].section(u'|', 0, 0));
            QCOMPARE(form->Catalog()[i].Name + u'|' + form->Catalog()[i].Aliases, catalogue[i]);
        }
        for (int i = 0; i < CatalogueHead.size(); ++i)
            QCOMPARE(form->FCboCatalog->itemText(i), CatalogueHead[i]);
        QCOMPARE(form->FCboCatalog->currentIndex(), 0);
        QVERIFY(!form->FCboCatalog->isEditable());
        QCOMPARE(SelectedRow(*form), -1);
    }

    void loadFailure_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("message"); // exact, or the start for a transport error
        QTest::newRow("service error with its detail")
            << 500 << QByteArray(R"js({"detail":"サーバーが混み合っています"})js") << false
            << LoadFailed + QStringLiteral("サーバーが混み合っています");
        QTest::newRow("status without a detail")
            << 503 << QByteArray() << false << LoadFailed + QStringLiteral("HTTP 503");
        QTest::newRow("2xx that is not an object")
            << 200 << QByteArray("[]") << false << LoadFailed + QStringLiteral("HTTP 200");
        QTest::newRow("item that is not an object")
            << 200 << QByteArray(R"js({"items":[1],"catalog":[]})js") << false
            << LoadFailed + QStringLiteral("Invalid class typecast");
        QTest::newRow("items fine, a catalogue entry not an object")
            << 200 << QByteArray(R"js({"items":[{"name":"AST","aliases":[]}],"catalog":["x"]})js")
            << false << LoadFailed + QStringLiteral("Invalid class typecast");
        QTest::newRow("connection dropped mid-answer")
            << 200 << QByteArray(R"js({"items":[{"name":"AST","aliases":["GOT"]}],"catalog":[]})js")
            << true << LoadFailed;
    }
    void loadFailure() {
        // The message, then an empty window that still works and can save.
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, drop);
        QFETCH(QString, message);
        Script(ItemsPath, status, body, drop);
        const auto form = NewForm();
        QCOMPARE(FMessages.size(), 1);
        if (drop)
            QVERIFY2(FMessages[0].Text.startsWith(message) &&
                         FMessages[0].Text.size() > message.size(),
                     qPrintable(FMessages[0].Text));
        else
            QCOMPARE(FMessages[0].Text, message);
        QCOMPARE(FMessages[0].Parent, form.get());
        QCOMPARE(RowTexts(*form), QStringList());
        QCOMPARE(form->FCboCatalog->count(), 0);
        QVERIFY(form->Catalog().isEmpty());

        // The table never held the account's list: saving it would replace that list.
        const QStringList stored = Stored();
        FMessages.clear();
        Apply(*form, {QStringLiteral("add:CRP|C反応性蛋白,CRP定量")});
        form->btnAddCatalog->click(); // nothing to add from
        QCOMPARE(RowTexts(*form), QStringList{QStringLiteral("CRP|C反応性蛋白,CRP定量")});
        QVERIFY(FMessages.isEmpty());
        QVERIFY(!form->btnSave->isEnabled());
        QVERIFY(form->btnReload->isVisibleTo(form.get()));
        QVERIFY(!form->lblNote->isVisibleTo(form.get()));
        form->btnSave->click();
        QCOMPARE(Stored(), stored);
        QVERIFY(ItemRequests("PUT").isEmpty());

        // Loaded again, the window works as after a first good load.
        form->btnReload->click();
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(RowTexts(*form).size(), stored.size());
        QVERIFY(form->btnSave->isEnabled());
        QVERIFY(!form->btnReload->isVisibleTo(form.get()));
        QVERIFY(form->lblNote->isVisibleTo(form.get()));
        Apply(*form, {QStringLiteral("add:CRP|C反応性蛋白,CRP定量")});
        form->btnSave->click();
        QCOMPARE(MessageTexts(), QStringList{Saved});
        QCOMPARE(Stored(), stored + QStringList{QStringLiteral("CRP|C反応性蛋白, CRP定量")});
    }

    // The service restarted and forgot the token: loading and saving sign in again.
    void serviceRestartedForgetsTheToken() {
        QVERIFY(FService.Restart());
        const auto form = NewForm();
        QVERIFY2(FMessages.isEmpty(), FMessages.isEmpty() ? "" : qPrintable(FMessages[0].Text));
        QVERIFY(form->btnSave->isEnabled());
        QVERIFY(!RowTexts(*form).isEmpty());
        QVERIFY(FService.Restart());
        form->btnSave->click();
        QCOMPARE(MessageTexts(), QStringList{Saved});
    }

    // ---- finding and adding

    void findItem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("row");
        QTest::newRow("same letters") << QStringLiteral("AST") << 0;
        QTest::newRow("lower case") << QStringLiteral("ast") << 0;
        QTest::newRow("mixed case") << QStringLiteral("hBA1C") << 7;
        QTest::newRow("letters and signs") << QStringLiteral("hdl-c") << 2;
        QTest::newRow("full-width letters") << QStringLiteral("ＡＳＴ") << -1;
        QTest::newRow("long s does not fold to s") << QStringLiteral("AſT") << -1;
        QTest::newRow("Kelvin sign is not K") << QStringLiteral("\u212Ar") << -1;
        QTest::newRow("not trimmed") << QStringLiteral("AST ") << -1;
        QTest::newRow("prefix only") << QStringLiteral("AS") << -1;
        QTest::newRow("empty") << QString() << -1;
    }
    void findItem() {
        QFETCH(QString, name);
        QFETCH(int, row);
        const auto form = NewForm();
        QTreeWidgetItem* found = form->FindItem(name);
        QCOMPARE(found ? form->FLV->indexOfTopLevelItem(found) : -1, row);
    }

    void addUpdate_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("aliases");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("focused");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("ast over AST: one row, caption kept")
            << QStringList{QStringLiteral("ast")} << QStringList{QStringLiteral("x")}
            << Defaults({{0, QStringLiteral("AST|x")}}) << 0 << QStringList();
        QTest::newRow("full-width ＡＳＴ is another item")
            << QStringList{QStringLiteral("ＡＳＴ")} << QStringList{QStringLiteral("y")}
            << Defaults({}, {QStringLiteral("ＡＳＴ|y")}) << 8 << QStringList();
        QTest::newRow("only A to Z fold")
            << QStringList{QStringLiteral("ＡＳＴ"), QStringLiteral("ａｓｔ"), QStringLiteral("K"),
                           QStringLiteral("\u212A"), QStringLiteral("aſt")}
            << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("4"), QStringLiteral("5")}
            << Defaults({}, {QStringLiteral("ＡＳＴ|1"), QStringLiteral("ａｓｔ|2"),
                             QStringLiteral("K|3"), QStringLiteral("\u212A|4"),
                             QStringLiteral("aſt|5")})
            << 12 << QStringList();
        QTest::newRow("blanks around TG and its aliases")
            << QStringList{QStringLiteral(" TG ")} << QStringList{QStringLiteral("  中性脂肪  ")}
            << Defaults({{4, QStringLiteral("TG|中性脂肪")}}) << 4 << QStringList();
        QTest::newRow("control characters trimmed, U+3000 kept")
            << QStringList{QStringLiteral("\t\u3000CRP\u3000\r\n")}
            << QStringList{QStringLiteral("\x01 C反応性蛋白 ,\u3000 \x1f")}
            << Defaults({}, {QStringLiteral("\u3000CRP\u3000|C反応性蛋白 ,\u3000")}) << 8
            << QStringList();
        QTest::newRow("blank aliases become empty")
            << QStringList{QStringLiteral("HbA1c")} << QStringList{QStringLiteral(" \t ")}
            << Defaults({{7, QStringLiteral("HbA1c|")}}) << 7 << QStringList();
        QTest::newRow("a new name goes last")
            << QStringList{QStringLiteral("CRP")} << QStringList{QStringLiteral("C反応性蛋白")}
            << Defaults({}, {QStringLiteral("CRP|C反応性蛋白")}) << 8 << QStringList();
        QTest::newRow("a name of blanks is refused")
            << QStringList{QStringLiteral("  \t ")} << QStringList{QStringLiteral("x")}
            << DefaultRows << -1 << QStringList{NoName};
        QTest::newRow("an empty name is refused")
            << QStringList{QString()} << QStringList{QStringLiteral("GOT")} << DefaultRows << -1
            << QStringList{NoName};
    }
    void addUpdate() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, aliases);
        QFETCH(QStringList, rows);
        QFETCH(int, focused);
        QFETCH(QStringList, messages);
        const auto form = NewForm(true);
        for (int i = 0; i < names.size(); ++i) {
            form->FEdtName->setText(names[i]);
            form->FEdtAliases->setText(aliases[i]);
            form->FEdtAliases->setFocus();
            form->btnAddUpdate->click();
        }
        QCOMPARE(RowTexts(*form), rows);
        QCOMPARE(FocusedRow(*form), focused);
        QCOMPARE(SelectedRow(*form), -1);
        QCOMPARE(MessageTexts(), messages);
        if (messages.isEmpty()) {
            // Ready for the next item.
            QCOMPARE(form->FEdtName->text(), QString());
            QCOMPARE(form->FEdtAliases->text(), QString());
            QCOMPARE(QApplication::focusWidget(), form->FEdtName);
        } else {
            // Refused: nothing changes, the boxes keep what was typed.
            QCOMPARE(FMessages[0].Parent, form.get());
            QCOMPARE(form->FEdtName->text(), names.last());
            QCOMPARE(form->FEdtAliases->text(), aliases.last());
        }
        QCOMPARE(FService.Requests().size(), 1); // only the load
    }

    void updatedRowIsScrolledIntoViewAndSelectionStays() {
        const auto form = NewForm(true);
        for (int i = 0; i < 40; ++i)
            Apply(*form, {QStringLiteral("add:X%1|x").arg(i)});
        form->FLV->scrollToTop();
        ClickRow(*form, 1); // ALT selected
        QScrollBar* bar = form->FLV->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTreeWidgetItem* ast = form->FLV->topLevelItem(0);
        QVERIFY(!form->FLV->viewport()->rect().intersects(form->FLV->visualItemRect(ast)));

        Apply(*form, {QStringLiteral("add:ast|GOT")});
        QVERIFY(form->FLV->viewport()->rect().contains(form->FLV->visualItemRect(ast)));
        QCOMPARE(FocusedRow(*form), 0);
        QCOMPARE(SelectedRow(*form), 1);
        QCOMPARE(RowTexts(*form).first(), QStringLiteral("AST|GOT"));
        QCOMPARE(RowTexts(*form).size(), 48);
    }

    // ---- the selected row and the boxes

    void selectingARowFillsTheBoxes() {
        const auto form = NewForm(true);
        // A click on the aliases cell selects the whole row and fills both boxes.
        ClickRow(*form, 4, 1);
        QCOMPARE(SelectedRow(*form), 4);
        QCOMPARE(form->FLV->selectionModel()->selectedIndexes().size(), 2);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("TG"));
        QCOMPARE(form->FEdtAliases->text(), QStringLiteral("中性脂肪, トリグリセリド"));
        // The cells cannot be edited in place.
        QTest::mouseDClick(form->FLV->viewport(), Qt::LeftButton, {},
                           form->FLV->visualRect(form->FLV->model()->index(4, 1)).center());
        QTest::keyClick(form->FLV, Qt::Key_F2);
        QVERIFY(form->FLV->viewport()->findChildren<QLineEdit*>().isEmpty());

        // Edited aliases update that row where it is.
        form->FEdtAliases->setText(QStringLiteral("中性脂肪"));
        form->btnAddUpdate->click();
        QCOMPARE(RowTexts(*form), Defaults({{4, QStringLiteral("TG|中性脂肪")}}));

        // A changed name adds a row; the old one stays (no rename).
        ClickRow(*form, 5);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("Cr"));
        form->FEdtName->setText(QStringLiteral("Cre"));
        form->btnAddUpdate->click();
        QCOMPARE(RowTexts(*form),
                 Defaults({{4, QStringLiteral("TG|中性脂肪")}},
                          {QStringLiteral("Cre|クレアチニン, クレアチニン(血清)")}));

        // The arrow keys select too; an empty alias cell empties the box.
        Apply(*form, {QStringLiteral("add:BS|")});
        ClickRow(*form, 5);
        form->FLV->setFocus();
        QTest::keyClick(form->FLV, Qt::Key_Down);
        QCOMPARE(SelectedRow(*form), 6);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("BS"));
        QCOMPARE(form->FEdtAliases->text(), QString());

        // A deselection leaves the boxes alone.
        form->FEdtName->setText(QStringLiteral("typed"));
        ClickRow(*form, 6, 0, Qt::ControlModifier);
        QCOMPARE(SelectedRow(*form), -1);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("typed"));
        QVERIFY(FMessages.isEmpty());
    }

    // ---- the catalogue

    void catalogueAdd_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("focused");
        QTest::newRow("an entry named like a row replaces its aliases")
            << QStringLiteral("AST") << Defaults({{0, QStringLiteral("AST|GOT, AST(GOT), ASAT")}})
            << 0;
        QTest::newRow("the last default")
            << QStringLiteral("HbA1c")
            << Defaults({{7, QStringLiteral("HbA1c|ヘモグロビンA1c, HbA1c(NGSP), A1c")}}) << 7;
        QTest::newRow("a new entry goes last")
            << QStringLiteral("γ-GTP")
            << Defaults({}, {QStringLiteral("γ-GTP|γGTP, γ-GT, GGT, y-GTP, r-GTP, ガンマGTP")})
            << 8;
    }
    void catalogueAdd() {
        QFETCH(QString, entry);
        QFETCH(QStringList, rows);
        QFETCH(int, focused);
        const auto form = NewForm(true);
        form->FEdtName->setText(QStringLiteral("keep"));
        form->FEdtAliases->setText(QStringLiteral("these"));
        Apply(*form, {QStringLiteral("catalog:") + entry});
        QCOMPARE(RowTexts(*form), rows);
        QCOMPARE(FocusedRow(*form), focused);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("keep"));
        QCOMPARE(form->FEdtAliases->text(), QStringLiteral("these"));
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(FService.Requests().size(), 1); // only the load
    }

    void catalogueEntriesGoInAsReceived() {
        Script(ItemsPath, 200,
               R"js({"items":[{"name":"AST","aliases":["GOT"]}],"catalog":[)js"
               R"js({"name":" CRP ","aliases":[" x ","y"]},{"name":"ast","aliases":["ASAT"]}]})js");
        const auto form = NewForm();
        QCOMPARE(form->FCboCatalog->itemText(0), QStringLiteral(" CRP "));
        form->btnAddCatalog->click();
        form->FCboCatalog->setCurrentIndex(1);
        form->btnAddCatalog->click();
        QCOMPARE(RowTexts(*form),
                 (QStringList{QStringLiteral("AST|ASAT"), QStringLiteral(" CRP | x , y")}));
    }

    void catalogueAddWithNothingToAdd_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("unpick");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("no catalogue member")
            << QByteArray(R"js({"items":[{"name":"AST","aliases":["GOT"]}]})js") << false
            << QStringList{QStringLiteral("AST|GOT")};
        QTest::newRow("empty catalogue")
            << QByteArray(R"js({"items":[{"name":"AST","aliases":["GOT"]}],"catalog":[]})js")
            << false << QStringList{QStringLiteral("AST|GOT")};
        QTest::newRow("no line picked") << QByteArray() << true << DefaultRows;
    }
    void catalogueAddWithNothingToAdd() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, unpick);
        QFETCH(QStringList, rows);
        if (!answer.isEmpty())
            Script(ItemsPath, 200, answer);
        const auto form = NewForm();
        if (unpick)
            form->FCboCatalog->setCurrentIndex(-1);
        form->btnAddCatalog->click();
        QCOMPARE(RowTexts(*form), rows);
        QVERIFY(FMessages.isEmpty());
    }

    // ---- delete

    void deleteRow_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("messages");
        QStringList withoutAlt = DefaultRows;
        withoutAlt.removeAt(1);
        QTest::newRow("the selected row goes at once")
            << "select ALT" << 1 << withoutAlt << QStringList();
        QTest::newRow("nothing selected") << "" << 1 << DefaultRows << QStringList{NoRow};
        QTest::newRow("a focused row is not a selected one")
            << "add ast" << 1 << Defaults({{0, QStringLiteral("AST|x")}}) << QStringList{NoRow};
        QTest::newRow("no other row is selected after a delete")
            << "select ALT" << 2 << withoutAlt << QStringList{NoRow};
        QTest::newRow("the last row")
            << "select HbA1c" << 2 << DefaultRows.mid(0, 7) << QStringList{NoRow};
    }
    void deleteRow() {
        QFETCH(QString, setup);
        QFETCH(int, presses);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, messages);
        const auto form = NewForm(true);
        if (setup.startsWith(QLatin1String("select ")))
            ClickRow(*form, form->FLV->indexOfTopLevelItem(Row(*form, setup.mid(7))));
        if (setup == QLatin1String("add ast"))
            Apply(*form, {QStringLiteral("add:ast|x")});
        form->FEdtName->setText(QStringLiteral("keep"));
        form->FEdtAliases->setText(QStringLiteral("these"));
        for (int i = 0; i < presses; ++i)
            form->btnDelete->click();
        QCOMPARE(RowTexts(*form), rows);
        QCOMPARE(MessageTexts(), messages);
        QCOMPARE(SelectedRow(*form), -1);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("keep"));
        QCOMPARE(form->FEdtAliases->text(), QStringLiteral("these"));
        QCOMPARE(FService.Requests().size(), 1); // only the load
    }

    // ---- reset

    void reset_data() {
        QTest::addColumn<bool>("loadFails");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("rows");
        const QStringList edited{QStringLiteral("AST|x"),
                                 QStringLiteral("HDL-C|HDLコレステロール, HDL"),
                                 QStringLiteral("LDL-C|LDLコレステロール, LDL"),
                                 QStringLiteral("TG|中性脂肪, トリグリセリド"),
                                 QStringLiteral("Cr|クレアチニン, クレアチニン(血清)"),
                                 QStringLiteral("BS|血糖, 血清血糖, グルコース, GLU"),
                                 QStringLiteral("HbA1c|ヘモグロビンA1c, HbA1c(NGSP)"),
                                 QStringLiteral("ＡＳＴ|y"),
                                 QStringLiteral("γ-GTP|γGTP, γ-GT, GGT, y-GTP, r-GTP, ガンマGTP")};
        QTest::newRow("answered No: nothing changes") << false << false << edited;
        QTest::newRow("answered Yes: exactly the eight") << false << true << DefaultRows;
        QTest::newRow("after a failed load") << true << true << DefaultRows;
    }
    void reset() {
        QFETCH(bool, loadFails);
        QFETCH(bool, answer);
        QFETCH(QStringList, rows);
        if (loadFails)
            Script(ItemsPath, 500, QByteArray());
        const auto form = NewForm(true);
        FMessages.clear();
        if (!loadFails)
            Apply(*form, {QStringLiteral("add:ast|x"), QStringLiteral("delete:ALT"),
                          QStringLiteral("add:ＡＳＴ|y"), QStringLiteral("catalog:γ-GTP")});
        ClickRow(*form, 1);
        FAnswer = answer;
        form->btnReset->click();
        QCOMPARE(FQuestions, QStringList{ResetQuestion});
        QCOMPARE(RowTexts(*form), rows);
        if (answer) {
            QCOMPARE(FocusedRow(*form), 7); // HbA1c
            QCOMPARE(SelectedRow(*form), -1);
        }
        QVERIFY(FMessages.isEmpty());
        QCOMPARE(FService.Requests().size(), 1); // only the load
    }

    // ---- save

    void save_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("reloaded");
        QTest::newRow("edited list")
            << QStringList{QStringLiteral("add:ast|GOT, ASAT"), QStringLiteral("delete:ALT"),
                           QStringLiteral("add:CRP|C反応性蛋白,CRP定量 , ,"),
                           QStringLiteral("add:ＡＳＴ|"), QStringLiteral("catalog:γ-GTP")}
            << QByteArray(R"js({"items":[{"name":"AST","aliases":["GOT","ASAT"]},)js"
                          R"js({"name":"HDL-C","aliases":["HDLコレステロール","HDL"]},)js"
                          R"js({"name":"LDL-C","aliases":["LDLコレステロール","LDL"]},)js"
                          R"js({"name":"TG","aliases":["中性脂肪","トリグリセリド"]},)js"
                          R"js({"name":"Cr","aliases":["クレアチニン","クレアチニン(血清)"]},)js"
                          R"js({"name":"BS","aliases":["血糖","血清血糖","グルコース","GLU"]},)js"
                          R"js({"name":"HbA1c","aliases":["ヘモグロビンA1c","HbA1c(NGSP)"]},)js"
                          R"js({"name":"CRP","aliases":["C反応性蛋白","CRP定量"]},)js"
                          R"js({"name":"ＡＳＴ","aliases":[]},)js"
                          R"js({"name":"γ-GTP","aliases":["γGTP","γ-GT","GGT","y-GTP","r-GTP",)js"
                          R"js("ガンマGTP"]}]})js")
            << QStringList{QStringLiteral("AST|GOT, ASAT"),
                           QStringLiteral("HDL-C|HDLコレステロール, HDL"),
                           QStringLiteral("LDL-C|LDLコレステロール, LDL"),
                           QStringLiteral("TG|中性脂肪, トリグリセリド"),
                           QStringLiteral("Cr|クレアチニン, クレアチニン(血清)"),
                           QStringLiteral("BS|血糖, 血清血糖, グルコース, GLU"),
                           QStringLiteral("HbA1c|ヘモグロビンA1c, HbA1c(NGSP)"),
                           QStringLiteral("CRP|C反応性蛋白, CRP定量"),
                           QStringLiteral("ＡＳＴ|"),
                           QStringLiteral("γ-GTP|γGTP, γ-GT, GGT, y-GTP, r-GTP, ガンマGTP")};
        QTest::newRow("an empty table sends an empty list")
            << QStringList{QStringLiteral("clear")} << QByteArray(R"js({"items":[]})js")
            << QStringList();
        QTest::newRow("reset after edits sends the eight")
            << QStringList{QStringLiteral("clear"), QStringLiteral("add:CRP|x"),
                           QStringLiteral("reset")}
            << DefaultBody << DefaultRows;
    }
    void save() {
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, reloaded);
        {
            const auto form = NewForm(true);
            Apply(*form, steps);
            const QStringList before = RowTexts(*form);
            FService.Reset();
            form->btnSave->click();
            QCOMPARE(MessageTexts(), QStringList{Saved});
            QCOMPARE(FMessages[0].Parent, form.get());
            // The table is left as it was, not reloaded.
            QCOMPARE(RowTexts(*form), before);
            const auto requests = FService.Requests();
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests[0].Method, QByteArray("PUT"));
            QCOMPARE(requests[0].Path, ItemsPath.toUtf8());
            QCOMPARE(requests[0].Header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(requests[0].Header("Authorization"), "Bearer " + FApi->Token().toUtf8());
            QCOMPARE(QJsonDocument::fromJson(requests[0].Body), QJsonDocument::fromJson(sent));
            QVERIFY(form->isVisible());
        }
        // A new window shows what was saved.
        FMessages.clear();
        const auto again = NewForm();
        QCOMPARE(RowTexts(*again), reloaded);
        QVERIFY(FMessages.isEmpty());
    }

    void saveFailure_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("status"); // 0: not scripted, the service's own answer
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("message"); // exact, or the start for a transport error
        const QStringList edits{QStringLiteral("add:ast|GOT, ASAT"), QStringLiteral("delete:ALT"),
                                QStringLiteral("add:CRP|C反応性蛋白")};
        QTest::newRow("service error with its detail")
            << edits << 503 << QByteArray(R"js({"detail":"サーバーが混み合っています"})js") << false
            << SaveFailed + QStringLiteral("サーバーが混み合っています");
        QTest::newRow("status without a detail")
            << edits << 500 << QByteArray() << false << SaveFailed + QStringLiteral("HTTP 500");
        QTest::newRow("connection dropped mid-answer")
            << edits << 200 << QByteArray(R"js({"items":[{"name":"AST","aliases":["GOT"]}]})js")
            << true << SaveFailed;
        QTest::newRow("a name the service refuses")
            << QStringList{QStringLiteral("add:") + QString(201, u'X') + QStringLiteral("|x")} << 0
            << QByteArray() << false << SaveFailed + QStringLiteral("HTTP 422");
    }
    void saveFailure() {
        // The message; the table keeps the edits, the stored list is untouched, and the
        // save can be repeated.
        QFETCH(QStringList, steps);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, drop);
        QFETCH(QString, message);
        const auto form = NewForm(true);
        Apply(*form, steps);
        const QStringList edited = RowTexts(*form);
        if (status != 0)
            Script(ItemsPath, status, body, drop);
        form->btnSave->click();
        QCOMPARE(FMessages.size(), 1);
        if (drop)
            QVERIFY2(FMessages[0].Text.startsWith(message) &&
                         FMessages[0].Text.size() > message.size(),
                     qPrintable(FMessages[0].Text));
        else
            QCOMPARE(FMessages[0].Text, message);
        QCOMPARE(FMessages[0].Parent, form.get());
        QCOMPARE(RowTexts(*form), edited);
        QVERIFY(form->isVisible());
        QCOMPARE(Stored(), DefaultRows);
        QVERIFY(!QGuiApplication::overrideCursor());

        if (status != 0) {
            FMessages.clear();
            form->btnSave->click();
            QCOMPARE(MessageTexts(), QStringList{Saved});
            QCOMPARE(Stored(), (QStringList{QStringLiteral("AST|GOT, ASAT"),
                                            QStringLiteral("HDL-C|HDLコレステロール, HDL"),
                                            QStringLiteral("LDL-C|LDLコレステロール, LDL"),
                                            QStringLiteral("TG|中性脂肪, トリグリセリド"),
                                            QStringLiteral("Cr|クレアチニン, クレアチニン(血清)"),
                                            QStringLiteral("BS|血糖, 血清血糖, グルコース, GLU"),
                                            QStringLiteral("HbA1c|ヘモグロビンA1c, HbA1c(NGSP)"),
                                            QStringLiteral("CRP|C反応性蛋白")}));
        }
    }

    // ---- keys, closing and the modal run

    void noButtonStandsForEnterOrEscape() {
        const auto form = NewForm(true);
        form->FEdtName->setFocus();
        QTest::keyClicks(form->FEdtName, QStringLiteral("CRP"));
        QTest::keyClick(form->FEdtName, Qt::Key_Return);
        QTest::keyClick(form->FEdtName, Qt::Key_Enter);
        QCOMPARE(RowTexts(*form), DefaultRows);
        QCOMPARE(form->FEdtName->text(), QStringLiteral("CRP"));
        // Escape does not throw the unsaved edits away.
        Apply(*form, {QStringLiteral("add:CRP|x")});
        QTest::keyClick(form->FEdtName, Qt::Key_Escape);
        QTest::keyClick(form->FLV, Qt::Key_Escape);
        QVERIFY(form->isVisible());
        QCOMPARE(form->result(), 0);
        QCOMPARE(RowTexts(*form), Defaults({}, {QStringLiteral("CRP|x")}));
        for (const QPushButton* b : form->findChildren<QPushButton*>())
            QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->text()));
        QVERIFY(FMessages.isEmpty());
    }

    void closingDropsChangesWithoutAsking_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("close button") << true;
        QTest::newRow("title bar close box") << false;
    }
    void closingDropsChangesWithoutAsking() {
        // The real modal run: the window is edited and closed from inside its event loop.
        QFETCH(bool, byButton);
        Dialogs::SetRunner({});
        QWidget owner;
        QPointer<TItemManagerForm> seen;
        QStringList editedRows;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* form = qobject_cast<TItemManagerForm*>(QApplication::activeModalWidget());
            if (!form)
                return;
            closer.stop();
            seen = form;
            Apply(*form, {QStringLiteral("add:CRP|x"), QStringLiteral("delete:AST")});
            editedRows = RowTexts(*form);
            if (byButton)
                form->btnClose->click();
            else
                form->close();
        });
        closer.start();
        // Never block on a window that would not close.
        QTimer::singleShot(10000, this, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->hide();
        });
        ShowItemManager(&owner, *FApi, Account());
        QVERIFY(!closer.isActive());
        QVERIFY(!seen);
        QCOMPARE(editedRows.size(), 8);
        QVERIFY(FQuestions.isEmpty());
        QVERIFY(FMessages.isEmpty());
        QVERIFY(ItemRequests("PUT").isEmpty());
        QCOMPARE(Stored(), DefaultRows);
    }

    void showItemManagerRunsTheFormAndDestroysIt() {
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget owner;
        owner.setGeometry(QRect(avail.center() - QPoint(350, 250), QSize(700, 500)));
        QPointer<TItemManagerForm> seen;
        QWidget* parent = nullptr;
        QStringList rows;
        QString caption;
        QRect placed;
        int runs = 0;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            ++runs;
            seen = qobject_cast<TItemManagerForm*>(&ADialog);
            if (seen) {
                parent = seen->parentWidget();
                rows = RowTexts(*seen);
                caption = seen->windowTitle();
                placed = QRect(seen->pos(), seen->size());
            }
            return int(QDialog::Rejected);
        });
        ShowItemManager(&owner, *FApi, Account());
        QCOMPARE(runs, 1);
        QCOMPARE(parent, &owner);
        QCOMPARE(caption, Title);
        QCOMPARE(rows, DefaultRows);
        QVERIFY(!seen);
        QVERIFY(owner.findChildren<QDialog*>().isEmpty());
        // Centred over the owner where the screen allows it; the title bar stays on it.
        // At least 760 wide, more when the note would not fit.
        QVERIFY(placed.width() >= 760);
        const QRect centred(owner.frameGeometry().center() - QPoint(placed.width() / 2, 290),
                            QSize(placed.width(), 580));
        if (avail.contains(centred))
            QCOMPARE(placed, centred);
        else
            QVERIFY(avail.contains(placed.topLeft()));
    }

    void showSurvivesTheOwnerGoingDuringTheRun() {
        auto owner = std::make_unique<QWidget>();
        QPointer<QDialog> seen;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            seen = &ADialog;
            owner.reset(); // takes its child window with it
            return int(QDialog::Rejected);
        });
        ShowItemManager(owner.get(), *FApi, Account());
        QVERIFY(!owner);
        QVERIFY(!seen);
    }

    void showAfterAFailedLoadStillOpens() {
        Script(ItemsPath, 200, R"js({"items":[]})js", true);
        QWidget owner;
        int runs = 0;
        int rows = -1;
        Dialogs::SetRunner([&](QDialog& ADialog) {
            ++runs;
            if (auto* form = qobject_cast<TItemManagerForm*>(&ADialog))
                rows = form->FLV->topLevelItemCount();
            return int(QDialog::Rejected);
        });
        ShowItemManager(&owner, *FApi, Account());
        QCOMPARE(runs, 1);
        QCOMPARE(rows, 0);
        QCOMPARE(FMessages.size(), 1);
        QVERIFY(FMessages[0].Text.startsWith(LoadFailed));
    }

    // ---- layout

    void layout() {
        const auto form = NewForm();
        const QFontMetrics fm(form->font());
        const int h = fm.height();
        const int rowH = h + 13;
        const int editH = h + 9;
        const int step = rowH + 8;
        const int bandH = 3 * step + 20;
        const int headerH = h + 8;
        const auto buttonW = [&](const QPushButton* AButton, int AMin) {
            return std::max(fm.horizontalAdvance(AButton->text()) + 24, AMin);
        };
        // 760 wide, or as wide as the note at the end of the last row needs.
        const int w = std::max(760, form->lblNote->geometry().right() + 1 + 12);
        QCOMPARE(form->size(), QSize(w, 580));
        QVERIFY(form->lblNote->geometry().right() < form->width());

        // Bottom band, row 1.
        QCOMPARE(form->pnlBottom->geometry(), QRect(0, 580 - bandH, w, bandH));
        int top = 8;
        int x = 12;
        const int labelTop = (rowH - h) / 2;
        const int editTop = (rowH - editH) / 2;
        QCOMPARE(form->lblName->text(), QStringLiteral("項目名"));
        QCOMPARE(form->lblName->pos(), QPoint(x, top + labelTop));
        QVERIFY(form->lblName->width() >= fm.horizontalAdvance(form->lblName->text()));
        x += form->lblName->width() + 8;
        QCOMPARE(form->FEdtName->geometry(), QRect(x, top + editTop, 130, editH));
        x += 130 + 14;
        QCOMPARE(form->lblAliases->text(), QStringLiteral("別名(,区切り)"));
        QCOMPARE(form->lblAliases->pos(), QPoint(x, top + labelTop));
        x += form->lblAliases->width() + 8;
        QCOMPARE(form->FEdtAliases->geometry(), QRect(x, top + editTop, 270, editH));
        x += 270 + 10;
        QCOMPARE(form->btnAddUpdate->text(), QStringLiteral("追加/更新"));
        QCOMPARE(form->btnAddUpdate->geometry(),
                 QRect(x, top, buttonW(form->btnAddUpdate, 100), rowH));

        // Row 2.
        top += step;
        x = 12;
        QCOMPARE(form->lblCatalog->text(), QStringLiteral("検査会社カタログ"));
        QCOMPARE(form->lblCatalog->pos(), QPoint(x, top + labelTop));
        x += form->lblCatalog->width() + 8;
        QCOMPARE(form->FCboCatalog->geometry(), QRect(x, top + editTop, 330, editH));
        x += 330 + 10;
        QCOMPARE(form->btnAddCatalog->text(), QStringLiteral("カタログから追加"));
        QCOMPARE(form->btnAddCatalog->geometry(),
                 QRect(x, top, buttonW(form->btnAddCatalog, 130), rowH));

        // Row 3 and the note after its buttons.
        top += step;
        x = 12;
        const QList<QPair<QPushButton*, QPair<QString, int>>> row3{
            {form->btnDelete, {QStringLiteral("選択した項目を削除"), 130}},
            {form->btnReset, {QStringLiteral("初期状態(8項目)に戻す"), 150}},
            {form->btnSave, {QStringLiteral("保存"), 90}},
            {form->btnClose, {QStringLiteral("閉じる"), 90}}};
        for (const auto& [button, caption] : row3) {
            QCOMPARE(button->text(), caption.first);
            const int w = buttonW(button, caption.second);
            QCOMPARE(button->geometry(), QRect(x, top, w, rowH));
            x += w + 8;
        }
        QCOMPARE(form->lblNote->text(),
                 QStringLiteral("※「保存」を押すまでサーバーには反映されません。"));
        QCOMPARE(form->lblNote->pos(), QPoint(x + 6, top + labelTop));
        QCOMPARE(form->lblNote->palette().color(QPalette::Active, QPalette::WindowText),
                 form->palette().color(QPalette::Disabled, QPalette::WindowText));

        // Header, then the table filling the rest.
        QCOMPARE(form->lblHeader->text(), QStringLiteral("  検査結果から抜き出す項目の一覧です。"
                                                         "行を選ぶと下段で別名を編集できます。"));
        QCOMPARE(form->lblHeader->geometry(), QRect(0, 0, w, headerH));
        QVERIFY(form->lblHeader->alignment().testFlag(Qt::AlignVCenter));
        QCOMPARE(form->FLV->geometry(), QRect(0, headerH, w, 580 - headerH - bandH));
        QCOMPARE(form->FLV->headerItem()->text(0), QStringLiteral("項目名"));
        QCOMPARE(form->FLV->headerItem()->text(1), QStringLiteral("別名"));
        QCOMPARE(form->FLV->columnCount(), 2);
        QCOMPARE(form->FLV->columnWidth(0),
                 fm.horizontalAdvance(QStringLiteral("ヘモグロビンA1c")) + 24);
        QCOMPARE(form->FLV->columnWidth(1), 470);
        QCOMPARE(form->FLV->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!form->FLV->isSortingEnabled());

        // Resized: the bands stay docked, nothing in the bottom band moves.
        const QRect save = form->btnSave->geometry();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->resize(900, 700);
        QTRY_COMPARE(form->size(), QSize(900, 700));
        QCOMPARE(form->pnlBottom->geometry(), QRect(0, 700 - bandH, 900, bandH));
        QCOMPARE(form->lblHeader->geometry(), QRect(0, 0, 900, headerH));
        QCOMPARE(form->FLV->geometry(), QRect(0, headerH, 900, 700 - headerH - bandH));
        QCOMPARE(form->btnSave->geometry(), save);
    }
};

QTEST_MAIN(TestItemManager)
#include "tst_itemmanager.moc"
