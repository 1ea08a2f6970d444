#include "ui/uExtractUI.h"

#include "common/uTextRules.h"
#include "files/uLabTable.h"
#include "ui/uClipboard.h"
#include "ui/uDialogLook.h"
#include "ui/uDialogs.h"
#include "ui/uMessages.h"
#include "ui/uWindowFont.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

namespace {} // namespace

TLabResultsForm::TLabResultsForm(QWidget* AOwner, const QList<TLabValue>& AResults,
                                 const QString& AExamDate, const QString& AInstitution,
                                 const QStringList& ANotFound, const QString& AItemsError,
                                 const TLabTrendRequest& ATrend)
    : QDialog(AOwner), FData(LabTable::PresentValues(AResults)),
      FExamDate(TextRules::Trim(AExamDate)), FInstitution(TextRules::Trim(AInstitution)),
      FNotFound(ANotFound), FTrend(ATrend) {
    setFont(WindowFont());
    const QFontMetrics fm(font());
    const int h = fm.height(); // the height of "Ag"
    const int rowH = h + 13;
    FRowHeight = rowH;
    const int clientW = 440;
    const int clientH = 520;

    // Placement and size; the border stays resizable.
    resize(clientW, clientH);
    PlaceOverOwner(this, AOwner);

    // Top band: exam date and institution. Plain text, so that markup in a name from the
    // service is shown as written rather than interpreted.
    FTopHeight = 2 * h + 18;
    pnlTop = new QWidget(this);
    pnlTop->setGeometry(0, 0, clientW, FTopHeight);
    lblExamDate = new QLabel(pnlTop);
    lblInstitution = new QLabel(pnlTop);
    for (QLabel* label : {lblExamDate, lblInstitution})
        label->setTextFormat(Qt::PlainText);
    // The two U+3000 line the colon up with the second label's.
    lblExamDate->setText(QStringLiteral("検査実施日　　： ") + FExamDate);
    lblInstitution->setText(QStringLiteral("検査医療機関： ") + FInstitution);
    lblExamDate->adjustSize();
    lblExamDate->move(12, 5);
    lblInstitution->adjustSize();
    lblInstitution->move(12, lblExamDate->y() + h + 4);

    // Bottom band: copy, and close anchored to the right edge.
    FBottomHeight = rowH + 18;
    pnlBottom = new QWidget(this);
    pnlBottom->setGeometry(0, clientH - FBottomHeight, clientW, FBottomHeight);
    int x = 12;
    const auto addButton = [&](const QString& ACaption, int AMinWidth) {
        const int w = std::max(fm.horizontalAdvance(ACaption) + 24, AMinWidth);
        auto* button = new QPushButton(ACaption, pnlBottom);
        button->setGeometry(x, 9, w, rowH);
        x += w + 8;
        return button;
    };
    btnCopy = addButton(QStringLiteral("📋 表をコピー(TSV)"), 160);
    btnTrend = addButton(QStringLiteral("検査値の推移"), 110);
    // A table saved without a patient number (OCR_検査_…) belongs to no one's trend.
    btnTrend->setEnabled(!TextRules::Trim(FTrend.PatientId).isEmpty());
    if (!btnTrend->isEnabled())
        btnTrend->setToolTip(QStringLiteral("患者IDなしで保存した表には推移がありません"));
    btnClose = addButton(QStringLiteral("閉じる"), 90);
    FCloseRightGap = 12;
    btnClose->move(pnlBottom->width() - btnClose->width() - FCloseRightGap, btnClose->y());
    connect(btnCopy, &QPushButton::clicked, this, &TLabResultsForm::CopyClick);
    connect(btnTrend, &QPushButton::clicked, this, [this] { ShowLabTrend(this, FTrend); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    // The table.
    FLV = new QTreeWidget(this);
    FLV->setAccessibleName(QStringLiteral("抽出した検査値"));
    FLV->setColumnCount(3);
    FLV->setHeaderLabels(
        {QStringLiteral("項目"), QStringLiteral("検査値"), QStringLiteral("単位")});
    SetUpReportTable(FLV);
    FLV->setColumnWidth(0, fm.horizontalAdvance(QStringLiteral("ヘモグロビンA1c")) + 20);
    FLV->setColumnWidth(1, fm.horizontalAdvance(QStringLiteral("0000.00")) + 24);
    FLV->setColumnWidth(2, fm.horizontalAdvance(QStringLiteral("mg/dL")) + 24);

    // Under the table, the tests the report did not yield, so that nobody takes them for
    // absent from it. Words, not colour, carry it; selectable, to search the photo or chart
    // for a name. When the items could not be read, no line would pass for "all found".
    pnlNotFound = new QScrollArea(this);
    pnlNotFound->setAccessibleName(QStringLiteral("未検出の項目"));
    pnlNotFound->setFrameShape(QFrame::NoFrame);
    pnlNotFound->setWidgetResizable(true);
    lblNotFound = new QLabel;
    lblNotFound->setTextFormat(Qt::PlainText);
    lblNotFound->setWordWrap(true);
    lblNotFound->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblNotFound->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    lblNotFound->setContentsMargins(12, 6, 12, 6);
    pnlNotFound->setWidget(lblNotFound);
    if (!FNotFound.isEmpty())
        lblNotFound->setText(QStringLiteral("未検出: ") + FNotFound.join(QStringLiteral("、")));
    else if (!AItemsError.isEmpty())
        lblNotFound->setText(QStringLiteral("未検出の項目を確認できませんでした: ") + AItemsError);
    pnlNotFound->setVisible(!lblNotFound->text().isEmpty());
    LayoutDocked();

    // Rows, exactly as received.
    for (const TLabValue& v : FData) {
        auto* item = new QTreeWidgetItem(FLV);
        item->setText(0, v.Name);
        item->setText(1, v.Value);
        item->setText(2, v.Units);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    setWindowTitle(QStringLiteral("検査項目抽出結果（%1項目を検出）").arg(FData.size()));
}

void TLabResultsForm::LayoutDocked() {
    const int w = width();
    const int h = height();
    pnlTop->setGeometry(0, 0, w, FTopHeight);
    pnlBottom->setGeometry(0, h - FBottomHeight, w, FBottomHeight);
    const int between = std::max(0, h - FTopHeight - FBottomHeight);
    // The note takes the height its wrapped text needs, but no more than a third of the
    // space between the bands (at least a row): the table stays the window's main part and
    // a long list scrolls.
    int noteH = 0;
    if (!pnlNotFound->isHidden()) {
        int textH = lblNotFound->heightForWidth(w);
        // A name too long for a line cannot wrap: it scrolls sideways rather than being cut.
        if (lblNotFound->minimumSizeHint().width() > w)
            textH += pnlNotFound->horizontalScrollBar()->sizeHint().height();
        noteH = std::min({textH, std::max(FRowHeight, between / 3), between});
    }
    FLV->setGeometry(0, FTopHeight, w, between - noteH);
    pnlNotFound->setGeometry(0, FTopHeight + between - noteH, w, noteH);
    btnClose->move(pnlBottom->width() - btnClose->width() - FCloseRightGap, btnClose->y());
}

void TLabResultsForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    LayoutDocked();
}

void TLabResultsForm::CopyClick() {
    const bool copied = CopyToClipboard(BuildLabTsv(FData, FExamDate, FInstitution));
    Messages::Show(this, copied ? QStringLiteral("検査値の表をクリップボードにコピーしました。\r\n"
                                                 "Excelやカルテに貼り付けできます。")
                                : QStringLiteral("クリップボードへのコピーに失敗しました。"));
}

void ShowLabResults(QWidget* AOwner, const QList<TLabValue>& AValues, const QString& AExamDate,
                    const QString& AInstitution, const QStringList& ANotFound,
                    const QString& AItemsError, const TLabTrendRequest& ATrend) {
    if (std::none_of(AValues.begin(), AValues.end(), LabTable::IsPresent)) {
        Messages::Show(AOwner, QStringLiteral("検査値を検出できませんでした。\r\n"
                                              "選択範囲を検査値の表全体にするか、「⚙ "
                                              "抽出項目の設定」で項目名・別名をご確認ください。"));
        return;
    }
    auto form = std::make_unique<TLabResultsForm>(AOwner, AValues, AExamDate, AInstitution,
                                                  ANotFound, AItemsError, ATrend);
    const QPointer<TLabResultsForm> alive(form.get());
    Dialogs::RunModal(*form);
    // An owner destroyed during the modal run has taken its child window with it.
    if (!alive)
        (void)form.release();
}
