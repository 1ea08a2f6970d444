#include "ui/uTrendUI.h"

#include "common/uTextRules.h"
#include "files/uLabTrendLoader.h"
#include "files/uLabTrendText.h"
#include "files/uSavedFiles.h"
#include "ui/uClipboard.h"
#include "ui/uDialogLook.h"
#include "ui/uDialogs.h"
#include "ui/uMessages.h"
#include "ui/uTrendChart.h"
#include "ui/uTrendModel.h"
#include "ui/uWindowFont.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

// Reading that ends sooner shows no progress at all.
constexpr int ProgressDelayMs = 300;

} // namespace

TLabTrendForm::TLabTrendForm(QWidget* AOwner, TLabTrendRequest ARequest)
    : QDialog(AOwner), FRequest(std::move(ARequest)), FLoader(std::make_unique<TLabTrendLoader>()) {
    // Reading starts before the window is built, so the two overlap; what it finds comes
    // back as queued signals, after the connections below exist.
    FLoading = true;
    FLoader->Start(FRequest.Folder, FRequest.PatientId, FRequest.ItemOrder);
    setFont(WindowFont());
    setWindowTitle(QStringLiteral("検査値の推移 - 患者ID ") + FRequest.PatientId);
    const QFontMetrics fm(font());
    const int rowH = fm.height() + 13;
    resize(900, 640);
    PlaceOverOwner(this, AOwner);

    lblSummary = new QLabel(this);
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setWordWrap(true);
    FProgress = new QProgressBar(this);
    FProgress->setAccessibleName(QStringLiteral("検査値の表の読み込み"));
    FProgress->setMaximumWidth(240);
    FProgress->hide();
    auto* top = new QHBoxLayout;
    top->addWidget(lblSummary, 1);
    top->addWidget(FProgress);

    FModel = new TLabTrendModel(this);
    lblTable = new QLabel(QStringLiteral("検査値の表(&T)"), this);
    FTable = new QTableView(this);
    FTable->setModel(FModel);
    FTable->setAccessibleName(QStringLiteral("検査値の表"));
    lblTable->setBuddy(FTable);
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->setTabKeyNavigation(false); // Tab leaves the table for the buttons
    FTable->verticalHeader()->hide();
    // Selecting every test at once mixes units; the corner button would only do that.
    FTable->setCornerButtonEnabled(false);
    FTable->verticalHeader()->setDefaultSectionSize(rowH - 4);
    FTable->horizontalHeader()->setDefaultSectionSize(
        fm.horizontalAdvance(QStringLiteral("0000/00/00 ※")) + 20);
    FTable->horizontalHeader()->setHighlightSections(false);
    KeepSelectionVisible(FTable);

    FChart = new TLabTrendChart(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    auto* tablePane = new QWidget(split);
    auto* tableLayout = new QVBoxLayout(tablePane);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->setSpacing(2);
    tableLayout->addWidget(lblTable);
    tableLayout->addWidget(FTable, 1);
    split->addWidget(tablePane);
    split->addWidget(FChart);
    split->setChildrenCollapsible(false);
    // The chart is what is looked at; the table scrolls.
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);

    // Files that could not be read, or only in part: named with why, never silently left out.
    lblProblems = new QLabel(QStringLiteral("読み飛ばしたファイル(&S)"), this);
    FLstProblems = new QListWidget(this);
    FLstProblems->setAccessibleName(QStringLiteral("読み飛ばしたファイル"));
    lblProblems->setBuddy(FLstProblems);
    lblProblems->hide();
    FLstProblems->hide();

    const auto button = [&](const QString& ACaption, int AMinWidth) {
        auto* b = new QPushButton(ACaption, this);
        b->setAutoDefault(false);
        b->setMinimumSize(std::max(fm.horizontalAdvance(ACaption) + 24, AMinWidth), rowH);
        return b;
    };
    btnCopy = button(QStringLiteral("表をコピー(TSV)"), 140);
    btnCsv = button(QStringLiteral("CSV保存"), 100);
    btnImage = button(QStringLiteral("画像保存"), 100);
    btnClose = button(QStringLiteral("閉じる"), 90);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnCopy);
    bottom->addWidget(btnCsv);
    bottom->addWidget(btnImage);
    bottom->addStretch(1);
    bottom->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 9);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(lblProblems);
    layout->addWidget(FLstProblems);
    layout->addLayout(bottom);

    setTabOrder(FTable, FChart->lblLatest);
    setTabOrder(FChart->lblLatest, FLstProblems);
    setTabOrder(FLstProblems, btnCopy);
    setTabOrder(btnCopy, btnCsv);
    setTabOrder(btnCsv, btnImage);
    setTabOrder(btnImage, btnClose);

    connect(btnCopy, &QPushButton::clicked, this, &TLabTrendForm::CopyClick);
    connect(btnCsv, &QPushButton::clicked, this, &TLabTrendForm::CsvClick);
    connect(btnImage, &QPushButton::clicked, this, &TLabTrendForm::ImageClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(FTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TLabTrendForm::SelectionChanged);

    connect(
        FLoader.get(), &TLabTrendLoader::Progress, this, [this](qsizetype ADone, qsizetype ATotal) {
            FProgress->setRange(0, int(ATotal));
            FProgress->setValue(int(ADone));
            lblSummary->setText(
                QStringLiteral("検査値の表を読み込んでいます… %1 / %2件").arg(ADone).arg(ATotal));
        });
    connect(FLoader.get(), &TLabTrendLoader::Finished, this, &TLabTrendForm::LoadFinished);
    FProgressDelay = new QTimer(this);
    FProgressDelay->setSingleShot(true);
    FProgressDelay->setInterval(ProgressDelayMs);
    connect(FProgressDelay, &QTimer::timeout, this, [this] {
        if (FLoading)
            FProgress->show();
    });
    ShowLoading();
}

TLabTrendForm::~TLabTrendForm() = default;

const TLabTrend& TLabTrendForm::Trend() const {
    return FModel->Trend();
}

bool TLabTrendForm::IsLoading() const {
    return FLoading;
}

void TLabTrendForm::Reload() {
    FLoading = true;
    FLoader->Start(FRequest.Folder, FRequest.PatientId, FRequest.ItemOrder);
    ShowLoading();
}

void TLabTrendForm::ShowLoading() {
    lblSummary->setText(QStringLiteral("検査値の表を読み込んでいます…"));
    FProgress->setRange(0, 0);
    FProgressDelay->start();
    UpdateButtons();
}

void TLabTrendForm::LoadFinished(bool AOk, const TLabTrend& ATrend, const QString& AError) {
    FLoading = false;
    FProgressDelay->stop();
    FProgress->hide();
    FModel->SetTrend(ATrend);
    const TLabTrend& trend = FModel->Trend();
    FTable->resizeColumnToContents(TLabTrendModel::colName);
    FTable->resizeColumnToContents(TLabTrendModel::colUnits);

    FLstProblems->clear();
    for (const TLabFileProblem& problem : trend.Problems) {
        auto* item =
            new QListWidgetItem((problem.Skipped ? QStringLiteral("読み込めません: ")
                                                 : QStringLiteral("一部を読み飛ばしました: ")) +
                                    problem.FileName + QStringLiteral(" — ") + problem.Reason,
                                FLstProblems);
        item->setToolTip(problem.Path);
    }
    lblProblems->setVisible(!trend.Problems.isEmpty());
    FLstProblems->setVisible(!trend.Problems.isEmpty());
    // As high as its lines, up to three; more scroll, and the table keeps its room.
    if (!trend.Problems.isEmpty())
        FLstProblems->setFixedHeight(int(std::min<qsizetype>(trend.Problems.size(), 3)) *
                                         FLstProblems->sizeHintForRow(0) +
                                     2 * FLstProblems->frameWidth() + 2);

    QString summary;
    if (!AOk) {
        summary = QStringLiteral("フォルダを読み取れませんでした: ") + AError;
    } else if (trend.Reports.isEmpty()) {
        summary = QStringLiteral("患者ID ") + FRequest.PatientId +
                  QStringLiteral(" の検査値の表が保存フォルダにありません（") + FRequest.Folder +
                  QStringLiteral("）");
    } else {
        summary = QStringLiteral("%1件の検査値の表（%2 〜 %3）、%4項目")
                      .arg(trend.Reports.size())
                      .arg(LabTrend::DateText(trend.Reports.first()),
                           LabTrend::DateText(trend.Reports.last()))
                      .arg(trend.Tests.size());
        if (std::any_of(trend.Reports.begin(), trend.Reports.end(),
                        [](const TLabReport& AReport) { return AReport.DateFromName; }))
            summary += QStringLiteral("　※ 検査実施日のない表はファイル名の日付");
    }
    if (AOk && trend.LeftOut > 0)
        summary += QStringLiteral("　（新しい%1件のみ、古い%2件は省略）")
                       .arg(trend.Reports.size() + trend.Problems.size())
                       .arg(trend.LeftOut);
    qsizetype skipped =
        std::count_if(trend.Problems.begin(), trend.Problems.end(),
                      [](const TLabFileProblem& AProblem) { return AProblem.Skipped; });
    if (skipped > 0)
        summary += QStringLiteral("　読み込めないファイル %1件").arg(skipped);
    lblSummary->setText(summary);

    if (!trend.Tests.isEmpty()) {
        const QModelIndex first = FModel->index(0, 0);
        FTable->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
        // The newest reports are the ones looked at first.
        FTable->scrollTo(FModel->index(0, FModel->columnCount() - 1));
    } else {
        FChart->Plot(trend, {});
    }
    FTable->setFocus();
    UpdateButtons();
    Q_EMIT Loaded();
}

void TLabTrendForm::PlotRows(const QList<int>& ARows) {
    FChart->Plot(FModel->Trend(), ARows);
    UpdateButtons();
}

void TLabTrendForm::SelectionChanged() {
    QList<int> rows;
    const QModelIndex current = FTable->selectionModel()->currentIndex();
    if (current.isValid() && FTable->selectionModel()->isRowSelected(current.row()))
        rows << current.row();
    QList<int> others;
    for (const QModelIndex& index : FTable->selectionModel()->selectedRows())
        if (index.row() != current.row())
            others << index.row();
    std::sort(others.begin(), others.end());
    PlotRows(rows + others);
}

void TLabTrendForm::UpdateButtons() {
    const bool haveTable = !FLoading && !FModel->Trend().Reports.isEmpty();
    btnCopy->setEnabled(haveTable);
    btnCsv->setEnabled(haveTable);
    btnImage->setEnabled(haveTable && !FChart->PlottedTests().isEmpty());
}

void TLabTrendForm::CopyClick() {
    const bool copied = CopyToClipboard(LabTrendText::Tsv(FModel->Trend()));
    Messages::Show(this, copied
                             ? QStringLiteral("検査値の推移の表をクリップボードにコピーしました。"
                                              "\r\nExcelやカルテに貼り付けできます。")
                             : QStringLiteral("クリップボードへのコピーに失敗しました。"));
}

QString TLabTrendForm::AskSavePath(const QString& AFilter, const QString& AName) {
    QFileDialog dialog(this, QString(),
                       QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({AFilter, QStringLiteral("すべてのファイル (*)")});
    dialog.selectFile(SavedFiles::SafeFileName(AName));
    if (Dialogs::RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void TLabTrendForm::CsvClick() {
    const QString path =
        AskSavePath(QStringLiteral("CSVファイル (*.csv)"),
                    QStringLiteral("検査値の推移_") + FRequest.PatientId + QStringLiteral(".csv"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SavedFiles::WriteFileAtomically(path, LabTrendText::Csv(FModel->Trend()), error)) {
        Messages::Show(this, QStringLiteral("CSVを保存できませんでした: ") + error);
        return;
    }
    Messages::Show(this, QStringLiteral("CSVを保存しました: ") + path);
}

void TLabTrendForm::ImageClick() {
    const QStringList tests = FChart->PlottedTests();
    if (tests.isEmpty())
        return;
    const QString path =
        AskSavePath(QStringLiteral("PNG画像 (*.png)"),
                    QStringLiteral("検査値の推移_") + FRequest.PatientId + QStringLiteral(".png"));
    if (path.isEmpty())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!FChart->Picture().save(&buffer, "PNG")) {
        Messages::Show(this, QStringLiteral("グラフの画像を作れませんでした。"));
        return;
    }
    if (!SavedFiles::WriteFileAtomically(path, png, error)) {
        Messages::Show(this, QStringLiteral("画像を保存できませんでした: ") + error);
        return;
    }
    Messages::Show(this, QStringLiteral("グラフの画像を保存しました: ") + path);
}

void ShowLabTrend(QWidget* AOwner, const TLabTrendRequest& ARequest) {
    if (TextRules::Trim(ARequest.Folder).isEmpty() || !QFileInfo(ARequest.Folder).isDir()) {
        Messages::Show(AOwner, QStringLiteral("保存フォルダが見つかりません。\r\n"
                                              "「接続設定」の保存フォルダをご確認ください。"));
        return;
    }
    if (TextRules::Trim(ARequest.PatientId).isEmpty()) {
        Messages::Show(AOwner, QStringLiteral("患者IDのあるファイルを選ぶか、患者IDを入力して"
                                              "ください。"));
        return;
    }
    auto form = std::make_unique<TLabTrendForm>(AOwner, ARequest);
    const QPointer<TLabTrendForm> alive(form.get());
    Dialogs::RunModal(*form);
    // An owner destroyed during the modal run has taken its child window with it.
    if (!alive)
        (void)form.release();
}
