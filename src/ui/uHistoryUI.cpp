#include "ui/uHistoryUI.h"

#include "common/uTextRules.h"
#include "ui/uBusyCursor.h"
#include "ui/uDesktop.h"
#include "ui/uDialogLook.h"
#include "ui/uDialogs.h"
#include "ui/uElidedLabel.h"
#include "ui/uMessages.h"
#include "ui/uTrendUI.h"
#include "ui/uWindowFont.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeView>
#include <algorithm>
#include <memory>

namespace {

enum TColumn { colKarteNo, colModified, colKind, colName, colSize, colCount };

bool IsEnter(const QKeyEvent* AEvent) {
    return AEvent->key() == Qt::Key_Return || AEvent->key() == Qt::Key_Enter;
}

} // namespace

// The table's rows are the form's shown entries themselves; cell texts are made when a
// row is drawn, so that a refill of thousands of rows costs a reset and no more.
class THistoryModel : public QAbstractTableModel {
public:
    THistoryModel(const QList<TFileEntry>& ARows, const HistoryScan::TRegionalFormat& AFormat,
                  QObject* AParent)
        : QAbstractTableModel(AParent), FRows(ARows), FFormat(AFormat) {}

    void BeginRefill() { beginResetModel(); }
    void EndRefill() { endResetModel(); }

    int rowCount(const QModelIndex& AParent) const override {
        return AParent.isValid() ? 0 : int(FRows.size());
    }
    int columnCount(const QModelIndex& AParent) const override {
        return AParent.isValid() ? 0 : colCount;
    }
    Qt::ItemFlags flags(const QModelIndex& AIndex) const override {
        if (!AIndex.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    }
    QVariant data(const QModelIndex& AIndex, int ARole) const override {
        if (ARole != Qt::DisplayRole || !AIndex.isValid() || AIndex.row() >= FRows.size())
            return {};
        const TFileEntry& entry = FRows.at(AIndex.row());
        switch (AIndex.column()) {
        case colKarteNo:
            return entry.KarteNo;
        case colModified:
            return HistoryScan::DateText(entry.Modified, FFormat);
        case colKind:
            return entry.Kind;
        case colName:
            return entry.Name;
        case colSize:
            return HistoryScan::SizeText(entry.Size, FFormat);
        default:
            return {};
        }
    }
    QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override {
        if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole)
            return {};
        switch (ASection) {
        case colKarteNo:
            return QStringLiteral("カルテ番号");
        case colModified:
            return QStringLiteral("日時");
        case colKind:
            return QStringLiteral("種別");
        case colName:
            return QStringLiteral("ファイル名");
        case colSize:
            return QStringLiteral("サイズ");
        default:
            return {};
        }
    }

private:
    const QList<TFileEntry>& FRows;
    const HistoryScan::TRegionalFormat& FFormat;
};

THistoryForm::THistoryForm(QWidget* AOwner, const QString& AFolder, const QStringList& AItemOrder)
    : QDialog(AOwner), FFolder(AFolder), FItemOrder(AItemOrder),
      FFormat(HistoryScan::TRegionalFormat::FromLocale(QLocale())) {
    setFont(WindowFont());
    setWindowTitle(QStringLiteral("過去のファイルを開く"));
    const QFontMetrics fm(font());
    const int h = fm.height(); // the height of "Ag"
    const int rowH = h + 13;
    const int clientW = 820;
    const int clientH = 560;
    resize(clientW, clientH);
    PlaceOverOwner(this, AOwner);

    FBandHeight = rowH + 18;
    FRightGap = 12;
    int x = 12;
    // Buttons never become the default: Enter in the search box must not press one.
    const auto addButton = [&](QWidget* ABand, const QString& ACaption, int AMinWidth) {
        const int w = std::max(fm.horizontalAdvance(ACaption) + 24, AMinWidth);
        auto* button = new QPushButton(ACaption, ABand);
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setGeometry(x, 9, w, rowH);
        x += w + 8;
        return button;
    };

    // Top band: search label and box, clear, reload, and the count label to the right edge.
    pnlTop = new QWidget(this);
    pnlTop->setGeometry(0, 0, clientW, FBandHeight);
    lblFind = new QLabel(QStringLiteral("カルテ番号／ファイル名で検索"), pnlTop);
    lblFind->adjustSize();
    lblFind->move(x, 9 + (rowH - h) / 2);
    x += lblFind->width() + 8;
    FEdtFind = new QLineEdit(pnlTop);
    lblFind->setBuddy(FEdtFind);
    FEdtFind->setGeometry(x, 9 + (rowH - (h + 9)) / 2, 160, h + 9);
    x += 160 + 8;
    btnClear = addButton(pnlTop, QStringLiteral("クリア"), 70);
    btnReload = addButton(pnlTop, QStringLiteral("再読込"), 70);
    auto* count = new TElidedLabel(pnlTop);
    count->setTextFormat(Qt::PlainText);
    {
        QPalette pal = count->palette();
        pal.setColor(QPalette::WindowText, pal.color(QPalette::Disabled, QPalette::WindowText));
        count->setPalette(pal);
    }
    count->setGeometry(x + 6, 9 + (rowH - h) / 2,
                       std::max(0, pnlTop->width() - (x + 6) - FRightGap), h + 2);
    FLblCount = count;

    // Bottom band: open, open folder, and close moved to the right edge.
    pnlBottom = new QWidget(this);
    pnlBottom->setGeometry(0, clientH - FBandHeight, clientW, FBandHeight);
    x = 12;
    btnOpen = addButton(pnlBottom, QStringLiteral("開く"), 90);
    btnOpenFolder = addButton(pnlBottom, QStringLiteral("フォルダを開く"), 120);
    btnTrend = addButton(pnlBottom, QStringLiteral("検査値の推移"), 110);
    btnClose = addButton(pnlBottom, QStringLiteral("閉じる"), 90);

    // The table: read-only, whole rows, one at a time, in the order of the scan.
    FModel = new THistoryModel(FShown, FFormat, this);
    FLV = new QTreeView(this);
    FLV->setModel(FModel);
    FLV->setAccessibleName(QStringLiteral("保存フォルダのファイル"));
    SetUpReportTable(FLV);
    FLV->setColumnWidth(colKarteNo, fm.horizontalAdvance(QStringLiteral("カルテ番号")) + 24);
    FLV->setColumnWidth(colModified, fm.horizontalAdvance(QStringLiteral("0000/00/00 00:00")) + 24);
    FLV->setColumnWidth(colKind, fm.horizontalAdvance(QStringLiteral("テキスト")) + 24);
    FLV->setColumnWidth(
        colName, fm.horizontalAdvance(QStringLiteral("pt00000_OCR_検査_00000000_000000.txt")) + 24);
    FLV->setColumnWidth(colSize, fm.horizontalAdvance(QStringLiteral("00,000 KB")) + 24);
    FLV->installEventFilter(this);
    LayoutDocked();

    connect(FEdtFind, &QLineEdit::textChanged, this, &THistoryForm::ApplyFilter);
    connect(btnClear, &QPushButton::clicked, this, &THistoryForm::ClearClick);
    connect(btnReload, &QPushButton::clicked, this, &THistoryForm::ReloadClick);
    connect(btnOpen, &QPushButton::clicked, this, &THistoryForm::OpenSelected);
    connect(btnOpenFolder, &QPushButton::clicked, this, &THistoryForm::OpenFolderClick);
    connect(btnTrend, &QPushButton::clicked, this, &THistoryForm::TrendClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(FLV, &QAbstractItemView::doubleClicked, this, &THistoryForm::OpenSelected);

    LoadFiles();
    ApplyFilter();
}

THistoryForm::~THistoryForm() {
    // The model reads FShown, which goes before the child widgets do.
    FLV->setModel(nullptr);
}

void THistoryForm::LayoutDocked() {
    const int w = width();
    const int h = height();
    pnlTop->setGeometry(0, 0, w, FBandHeight);
    pnlBottom->setGeometry(0, h - FBandHeight, w, FBandHeight);
    FLV->setGeometry(0, FBandHeight, w, std::max(0, h - 2 * FBandHeight));
    FLblCount->resize(std::max(0, w - FLblCount->x() - FRightGap), FLblCount->height());
    btnClose->move(w - btnClose->width() - FRightGap, btnClose->y());
}

void THistoryForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    LayoutDocked();
}

void THistoryForm::LoadFiles() {
    FAll.clear();
    FLeftOut = 0;
    if (FFolder.isEmpty() || !QFileInfo(FFolder).isDir())
        return; // the count label says the folder has nothing to show
    QString error;
    bool listed = false;
    {
        const TBusyCursor busy;
        listed = HistoryScan::ScanFolder(FFolder, FAll, error, &FLeftOut);
    }
    if (!listed) {
        FAll.clear();
        FLeftOut = 0;
        Messages::Show(this, QStringLiteral("フォルダを読み取れませんでした: ") + error);
    }
}

QString THistoryForm::LeftOutNote() const {
    // The newest are listed; a year of files may hold more than the table keeps.
    if (FLeftOut <= 0)
        return QString();
    return QStringLiteral("（新しい%1件のみ表示、古い%2件は省略）")
        .arg(HistoryScan::MaxFiles)
        .arg(FLeftOut);
}

void THistoryForm::ApplyFilter() {
    const QString query = HistoryScan::QueryOf(FEdtFind->text());
    FModel->BeginRefill();
    FShown = HistoryScan::Filter(FAll, query);
    FModel->EndRefill();

    const QString rows = QString::number(FShown.size());
    if (FAll.isEmpty())
        FLblCount->setText(QStringLiteral("表示できるファイルがありません（") + FFolder +
                           QStringLiteral("）"));
    else if (query.isEmpty())
        FLblCount->setText(rows + QStringLiteral("件\u3000") + LeftOutNote() + FFolder);
    else
        FLblCount->setText(rows + QStringLiteral("件 / 全") + QString::number(FAll.size()) +
                           QStringLiteral("件") +
                           (FLeftOut > 0 ? QStringLiteral("\u3000") : QString()) + LeftOutNote());
    FLblCount->setToolTip(FFolder);

    if (!FShown.isEmpty()) {
        const QModelIndex first = FModel->index(0, 0);
        FLV->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
        FLV->scrollTo(first);
    }
}

void THistoryForm::OpenSelected() {
    const QModelIndexList rows = FLV->selectionModel()->selectedRows();
    const qsizetype i = rows.isEmpty() ? -1 : rows.first().row();
    if (i < 0 || i >= FShown.size()) {
        Messages::Show(this, QStringLiteral("開くファイルを一覧から選んでください。"));
        return;
    }
    const QString path = FShown.at(i).Path;
    if (QFileInfo(path).isFile()) {
        FSelected = path;
        accept();
        return;
    }
    Messages::Show(this,
                   QStringLiteral("ファイルが見つかりません（移動または削除された可能性があります）"
                                  ":\r\n") +
                       path);
    LoadFiles();
    ApplyFilter();
}

void THistoryForm::ClearClick() {
    FEdtFind->clear();
    FEdtFind->setFocus();
}

void THistoryForm::ReloadClick() {
    LoadFiles();
    ApplyFilter();
}

void THistoryForm::OpenFolderClick() {
    if (!FFolder.isEmpty())
        (void)Desktop::Open(FFolder); // whether the desktop obliged is not reported
}

QString THistoryForm::TrendPatientId() const {
    const QModelIndexList rows = FLV->selectionModel()->selectedRows();
    const qsizetype i = rows.isEmpty() ? -1 : rows.first().row();
    if (i >= 0 && i < FShown.size() && !FShown.at(i).KarteNo.isEmpty())
        return FShown.at(i).KarteNo;
    QString typed = HistoryScan::QueryOf(FEdtFind->text());
    if (typed.startsWith(u"pt"))
        typed = typed.sliced(2);
    const bool digits = !typed.isEmpty() && std::all_of(typed.begin(), typed.end(), [](QChar c) {
        return c.unicode() >= u'0' && c.unicode() <= u'9';
    });
    return digits ? typed : QString();
}

void THistoryForm::TrendClick() {
    ShowLabTrend(this, TLabTrendRequest{FFolder, TrendPatientId(), FItemOrder});
}

bool THistoryForm::eventFilter(QObject* AWatched, QEvent* AEvent) {
    // Enter in the table opens the selected row, and goes no further.
    if (AWatched == FLV && AEvent->type() == QEvent::KeyPress &&
        IsEnter(static_cast<QKeyEvent*>(AEvent))) {
        OpenSelected();
        return true;
    }
    return QDialog::eventFilter(AWatched, AEvent);
}

void THistoryForm::keyPressEvent(QKeyEvent* AEvent) {
    // No button is the default or the cancel button: Enter elsewhere than in the table
    // and Escape do nothing; the window closes by its buttons and its close box.
    if (IsEnter(AEvent) || AEvent->key() == Qt::Key_Escape) {
        AEvent->accept();
        return;
    }
    QDialog::keyPressEvent(AEvent);
}

bool ShowHistory(QWidget* AOwner, const QString& AFolder, QString& ASelected,
                 const QStringList& AItemOrder) {
    ASelected.clear();
    if (TextRules::Trim(AFolder).isEmpty() || !QFileInfo(AFolder).isDir()) {
        Messages::Show(AOwner, QStringLiteral("保存フォルダが見つかりません。\r\n"
                                              "「接続設定」の保存フォルダをご確認ください。"));
        return false;
    }
    auto form = std::make_unique<THistoryForm>(AOwner, AFolder, AItemOrder);
    const QPointer<THistoryForm> alive(form.get());
    const int result = Dialogs::RunModal(*form);
    // An owner destroyed during the modal run has taken its child window with it.
    if (!alive) {
        (void)form.release();
        return false;
    }
    if (result == QDialog::Accepted)
        ASelected = form->Selected();
    return !ASelected.isEmpty();
}
