#include "ui/uItemManagerUI.h"

#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "service/uSignedInCall.h"
#include "ui/uBusyCursor.h"
#include "ui/uDialogLook.h"
#include "ui/uDialogs.h"
#include "ui/uMessages.h"
#include "ui/uWindowFont.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

namespace {

// The eight items a reset restores, the same as a new account starts with.
const QList<TExtractItem>& DefaultItems() {
    static const QList<TExtractItem> items{
        {QStringLiteral("AST"), QStringLiteral("GOT, AST(GOT)")},
        {QStringLiteral("ALT"), QStringLiteral("GPT, ALT(GPT)")},
        {QStringLiteral("HDL-C"), QStringLiteral("HDLコレステロール, HDL")},
        {QStringLiteral("LDL-C"), QStringLiteral("LDLコレステロール, LDL")},
        {QStringLiteral("TG"), QStringLiteral("中性脂肪, トリグリセリド")},
        {QStringLiteral("Cr"), QStringLiteral("クレアチニン, クレアチニン(血清)")},
        {QStringLiteral("BS"), QStringLiteral("血糖, 血清血糖, グルコース, GLU")},
        {QStringLiteral("HbA1c"), QStringLiteral("ヘモグロビンA1c, HbA1c(NGSP)")},
    };
    return items;
}

QTreeWidgetItem* AppendRow(QTreeWidget* ALV, const QString& AName, const QString& AAliases) {
    auto* row = new QTreeWidgetItem(ALV);
    row->setText(0, AName);
    row->setText(1, AAliases);
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return row;
}

} // namespace

TItemManagerForm::TItemManagerForm(QWidget* AOwner, TApiClient& AApi, const TAccount& AAccount)
    : QDialog(AOwner), FApi(AApi), FAccount(AAccount) {
    setFont(WindowFont());
    const QFontMetrics fm(font());
    const int h = fm.height(); // the height of "Ag"
    const int rowH = h + 13;
    const int editH = h + 9;
    const int step = rowH + 8;
    const int clientW = 760;
    const int clientH = 580;

    setWindowTitle(QStringLiteral("抽出項目の設定"));
    resize(clientW, clientH);
    PlaceOverOwner(this, AOwner);

    // Bottom band: three rows placed left to right from font metrics.
    FBottomHeight = 3 * step + 20;
    pnlBottom = new QWidget(this);
    pnlBottom->setGeometry(0, clientH - FBottomHeight, clientW, FBottomHeight);
    int x = 0;
    int rowTop = 0;
    const auto addLabel = [&](const QString& AText) {
        auto* label = new QLabel(AText, pnlBottom);
        label->setTextFormat(Qt::PlainText);
        label->adjustSize();
        label->move(x, rowTop + (rowH - h) / 2);
        x += label->width() + 8;
        return label;
    };
    const auto placeBox = [&](QWidget* ABox, int AWidth, int AGap) {
        ABox->setGeometry(x, rowTop + (rowH - editH) / 2, AWidth, editH);
        x += AWidth + AGap;
    };
    const auto addButton = [&](const QString& ACaption, int AMinWidth) {
        const int w = std::max(fm.horizontalAdvance(ACaption) + 24, AMinWidth);
        auto* button = new QPushButton(ACaption, pnlBottom);
        // Enter in a text box must not press anything.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setGeometry(x, rowTop, w, rowH);
        x += w + 8;
        return button;
    };

    rowTop = 8;
    x = 12;
    lblName = addLabel(QStringLiteral("項目名"));
    FEdtName = new QLineEdit(pnlBottom);
    lblName->setBuddy(FEdtName);
    placeBox(FEdtName, 130, 14);
    lblAliases = addLabel(QStringLiteral("別名(,区切り)"));
    FEdtAliases = new QLineEdit(pnlBottom);
    lblAliases->setBuddy(FEdtAliases);
    placeBox(FEdtAliases, 270, 10);
    btnAddUpdate = addButton(QStringLiteral("追加/更新"), 100);

    rowTop += step;
    x = 12;
    lblCatalog = addLabel(QStringLiteral("検査会社カタログ"));
    FCboCatalog = new QComboBox(pnlBottom);
    FCboCatalog->setEditable(false);
    lblCatalog->setBuddy(FCboCatalog);
    // On Linux a combo box speaks its current entry as its name, and the label only through
    // a relation that not every screen reader follows.
    FCboCatalog->setAccessibleName(lblCatalog->text());
    placeBox(FCboCatalog, 330, 10);
    btnAddCatalog = addButton(QStringLiteral("カタログから追加"), 130);

    rowTop += step;
    x = 12;
    btnDelete = addButton(QStringLiteral("選択した項目を削除"), 130);
    btnReset = addButton(QStringLiteral("初期状態(8項目)に戻す"), 150);
    btnSave = addButton(QStringLiteral("保存"), 90);
    btnClose = addButton(QStringLiteral("閉じる"), 90);
    lblNote =
        new QLabel(QStringLiteral("※「保存」を押すまでサーバーには反映されません。"), pnlBottom);
    lblNote->setTextFormat(Qt::PlainText);
    {
        QPalette pal = lblNote->palette();
        const QColor grey = pal.color(QPalette::Disabled, QPalette::WindowText);
        pal.setColor(QPalette::Active, QPalette::WindowText, grey);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, grey);
        lblNote->setPalette(pal);
    }
    // Sized from the window's font, which the label takes on only once it is polished.
    lblNote->setGeometry(x + 6, rowTop + (rowH - h) / 2, fm.horizontalAdvance(lblNote->text()) + 2,
                         h + 2);
    btnReload = new QPushButton(QStringLiteral("再読み込み"), pnlBottom);
    btnReload->setAutoDefault(false);
    btnReload->setGeometry(x, rowTop, std::max(fm.horizontalAdvance(btnReload->text()) + 24, 100),
                           rowH);
    btnReload->hide();
    // The note ends its row; a window too narrow for it would cut off what it says.
    if (const int needed = lblNote->geometry().right() + 1 + 12; needed > width()) {
        resize(needed, height());
        PlaceOverOwner(this, AOwner);
    }

    connect(btnAddUpdate, &QPushButton::clicked, this, &TItemManagerForm::btnAddUpdateClick);
    connect(btnAddCatalog, &QPushButton::clicked, this, &TItemManagerForm::btnAddCatalogClick);
    connect(btnDelete, &QPushButton::clicked, this, &TItemManagerForm::btnDeleteClick);
    connect(btnReset, &QPushButton::clicked, this, &TItemManagerForm::btnResetClick);
    connect(btnSave, &QPushButton::clicked, this, &TItemManagerForm::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnReload, &QPushButton::clicked, this, &TItemManagerForm::LoadItems);

    // Header line; the two leading blanks are part of the text.
    FHeaderHeight = h + 8;
    lblHeader = new QLabel(
        QStringLiteral(
            "  検査結果から抜き出す項目の一覧です。行を選ぶと下段で別名を編集できます。"),
        this);
    lblHeader->setTextFormat(Qt::PlainText);
    lblHeader->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // The table: the working copy of the list.
    FLV = new QTreeWidget(this);
    FLV->setAccessibleName(QStringLiteral("抽出項目"));
    FLV->setColumnCount(2);
    FLV->setHeaderLabels({QStringLiteral("項目名"), QStringLiteral("別名")});
    SetUpReportTable(FLV);
    FLV->setColumnWidth(0, fm.horizontalAdvance(QStringLiteral("ヘモグロビンA1c")) + 24);
    FLV->setColumnWidth(1, 470);
    connect(FLV->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& ASelected, const QItemSelection&) {
                LVSelectionChanged(ASelected);
            });
    LayoutDocked();

    LoadItems();
}

void TItemManagerForm::LayoutDocked() {
    const int w = width();
    const int h = height();
    pnlBottom->setGeometry(0, h - FBottomHeight, w, FBottomHeight);
    lblHeader->setGeometry(0, 0, w, FHeaderHeight);
    FLV->setGeometry(0, FHeaderHeight, w, std::max(0, h - FHeaderHeight - FBottomHeight));
}

void TItemManagerForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    LayoutDocked();
}

void TItemManagerForm::keyPressEvent(QKeyEvent* AEvent) {
    // No button stands for Escape: a stray key press must not throw away unsaved edits.
    if (AEvent->matches(QKeySequence::Cancel)) {
        AEvent->accept();
        return;
    }
    QDialog::keyPressEvent(AEvent);
}

void TItemManagerForm::LoadItems() {
    QList<TExtractItem> items;
    QString error;
    bool ok = false;
    FCatalog.clear();
    {
        TBusyCursor busy;
        ok = SignedInCall(FApi, FAccount.Email, FAccount.Password, error,
                          [&](QString& AError) { return FApi.GetItems(items, FCatalog, AError); });
    }
    // Until a load has succeeded the table does not hold the account's list.
    btnSave->setEnabled(ok);
    btnReload->setVisible(!ok);
    lblNote->setVisible(ok);
    if (!ok) {
        // A call that broke off half-way may have read a part; offer none of it.
        FCatalog.clear();
        Messages::Show(this, QStringLiteral("抽出項目の取得に失敗しました: ") + error);
        return;
    }
    FLV->clear();
    for (const TExtractItem& item : items)
        AppendRow(FLV, item.Name, item.Aliases);
    FCboCatalog->clear();
    for (const TExtractItem& entry : FCatalog)
        FCboCatalog->addItem(entry.Name);
    if (FCboCatalog->count() > 0)
        FCboCatalog->setCurrentIndex(0);
}

QTreeWidgetItem* TItemManagerForm::FindItem(const QString& AName) const {
    for (int i = 0; i < FLV->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = FLV->topLevelItem(i);
        if (TextRules::SameTextAscii(row->text(0), AName))
            return row;
    }
    return nullptr;
}

void TItemManagerForm::AddOrUpdateItem(const QString& AName, const QString& AAliases) {
    QTreeWidgetItem* row = FindItem(AName);
    if (row)
        row->setText(1, AAliases);
    else
        row = AppendRow(FLV, AName, AAliases);
    // The focus mark moves; the selection stays where the user put it.
    const QModelIndex index = FLV->model()->index(FLV->indexOfTopLevelItem(row), 0);
    FLV->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    FLV->scrollToItem(row);
}

QList<TExtractItem> TItemManagerForm::Items() const {
    QList<TExtractItem> items;
    items.reserve(FLV->topLevelItemCount());
    for (int i = 0; i < FLV->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = FLV->topLevelItem(i);
        items.append({row->text(0), row->text(1)});
    }
    return items;
}

void TItemManagerForm::LVSelectionChanged(const QItemSelection& ASelected) {
    const QModelIndexList indexes = ASelected.indexes();
    if (indexes.isEmpty())
        return; // a deselection leaves the boxes alone
    const QTreeWidgetItem* row = FLV->topLevelItem(indexes.first().row());
    if (!row)
        return;
    FEdtName->setText(row->text(0));
    FEdtAliases->setText(row->text(1));
}

void TItemManagerForm::btnAddUpdateClick() {
    const QString name = TextRules::Trim(FEdtName->text());
    if (name.isEmpty()) {
        Messages::Show(this, QStringLiteral("項目名を入力してください。"));
        return;
    }
    AddOrUpdateItem(name, TextRules::Trim(FEdtAliases->text()));
    FEdtName->clear();
    FEdtAliases->clear();
    FEdtName->setFocus();
}

void TItemManagerForm::btnAddCatalogClick() {
    const int i = FCboCatalog->currentIndex();
    if (i < 0 || i >= FCatalog.size())
        return;
    AddOrUpdateItem(FCatalog[i].Name, FCatalog[i].Aliases);
}

void TItemManagerForm::btnDeleteClick() {
    const QList<QTreeWidgetItem*> selected = FLV->selectedItems();
    if (selected.isEmpty()) {
        Messages::Show(this, QStringLiteral("削除する項目を一覧から選択してください。"));
        return;
    }
    const int row = FLV->indexOfTopLevelItem(selected.first());
    // Left alone, the view would select the next row by itself, which would overwrite the
    // boxes and leave a row ready for the next delete.
    FLV->selectionModel()->clear();
    const std::unique_ptr<QTreeWidgetItem> gone(FLV->takeTopLevelItem(row));
}

void TItemManagerForm::btnResetClick() {
    if (!Messages::Confirm(this, QStringLiteral("項目を初期状態（Excelの8項目）に戻します。"
                                                "よろしいですか？")))
        return;
    FLV->clear();
    for (const TExtractItem& item : DefaultItems())
        AddOrUpdateItem(item.Name, item.Aliases);
}

void TItemManagerForm::btnSaveClick() {
    const QList<TExtractItem> items = Items();
    QString error;
    bool ok = false;
    {
        TBusyCursor busy;
        ok = SignedInCall(FApi, FAccount.Email, FAccount.Password, error,
                          [&](QString& AError) { return FApi.SaveItems(items, AError); });
    }
    // The table stays as it is either way, so a failed save can be repeated.
    Messages::Show(this, ok ? QStringLiteral("抽出項目を保存しました。")
                            : QStringLiteral("保存に失敗しました: ") + error);
}

void ShowItemManager(QWidget* AOwner, TApiClient& AApi, const TAccount& AAccount) {
    auto form = std::make_unique<TItemManagerForm>(AOwner, AApi, AAccount);
    const QPointer<TItemManagerForm> alive(form.get());
    Dialogs::RunModal(*form);
    // An owner destroyed during the modal run has taken its child window with it.
    if (!alive)
        (void)form.release();
}
