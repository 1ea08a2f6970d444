#include "ui/uRecognitionActions.h"

#include "common/uClock.h"
#include "common/uTextRules.h"
#include "files/uLabTable.h"
#include "files/uSavedFiles.h"
#include "ui/uExtractUI.h"
#include "ui/uMessages.h"
#include "ui/uPreviewPane.h"
#include "ui/uStatusLine.h"

namespace {
const QString NoImage = QStringLiteral("先に一覧から画像を選択してください。");
const QString Busy = QStringLiteral("解析中です。完了までお待ちください。");
const QString MissingAccount =
    QStringLiteral("サーバーURL・メールアドレス・パスワードを入力してください。");
} // namespace

TRecognitionActions::TRecognitionActions(QWidget* AWindow, TPreviewPane* APane,
                                         TRecognitionContext AContext)
    : QObject(AWindow), FWindow(AWindow), FPane(APane), FContext(std::move(AContext)),
      FJob(new TRecognitionJob(this)) {
    connect(FJob, &TRecognitionJob::OcrFinished, this, &TRecognitionActions::ShowOcrResult);
    connect(FJob, &TRecognitionJob::ExtractFinished, this, &TRecognitionActions::ShowExtractResult);
}

void TRecognitionActions::SetStatus(const QString& AText, const QColor& AColor) {
    Q_EMIT StatusChanged(AText, AColor, QString());
}

QByteArray TRecognitionActions::SelectionOrWholeJpeg() const {
    TRect region;
    if (!FPane->SelectionToImageRect(region))
        region = FPane->WholeImage();
    return FPane->CropToJpeg(region);
}

void TRecognitionActions::btnOcrRegionClick() {
    if (FPane->CurImgW() <= 0) {
        Messages::Show(FWindow, NoImage);
        return;
    }
    TRect region;
    if (!FPane->SelectionToImageRect(region)) {
        Messages::Show(
            FWindow,
            QStringLiteral("画像の上をドラッグして、文字化したい範囲を選択してください。"));
        return;
    }
    RunOcr(FPane->CropToJpeg(region), false, false);
}

void TRecognitionActions::btnOcrFullClick() {
    if (FPane->CurImgW() <= 0) {
        Messages::Show(FWindow, NoImage);
        return;
    }
    RunOcr(FPane->CropToJpeg(FPane->WholeImage()), false, false);
}

void TRecognitionActions::btnRxClick() {
    if (FPane->CurImgW() <= 0) {
        Messages::Show(FWindow, NoImage);
        return;
    }
    RunOcr(SelectionOrWholeJpeg(), true, false);
}

void TRecognitionActions::btnExtractClick() {
    if (FJob->IsBusy()) {
        Messages::Show(FWindow, Busy);
    } else if (FPane->ImageShown()) {
        RunOcr(SelectionOrWholeJpeg(), false, true);
    } else if (FPane->TextShown()) {
        RunExtract(FPane->ShownText(), TextRules::Trim(FContext.PatientId()));
    } else {
        Messages::Show(
            FWindow,
            QStringLiteral("画像の範囲を選択するか、テキストを表示してから実行してください。"));
    }
}

bool TRecognitionActions::ReadAccount(TAccount& AAccount) {
    AAccount = FContext.Account();
    if (!AAccount.IsComplete()) {
        Messages::Show(FWindow, MissingAccount);
        return false;
    }
    FJob->EnsureClient(AAccount);
    return true;
}

void TRecognitionActions::RunOcr(const QByteArray& AJpeg, bool ARx, bool AThenExtract) {
    if (FJob->IsBusy()) {
        Messages::Show(FWindow, Busy);
        return;
    }
    if (AJpeg.isEmpty()) {
        Messages::Show(FWindow, QStringLiteral("画像の切り出しに失敗しました。"));
        return;
    }
    TAccount account;
    if (!ReadAccount(account))
        return;
    TOcrRequest request;
    request.Email = account.Email;
    request.Password = account.Password;
    request.Jpeg = AJpeg;
    request.Rx = ARx;
    request.ThenExtract = AThenExtract;
    request.PatientId = TextRules::Trim(FContext.PatientId());
    FJob->StartOcr(std::move(request));
    Q_EMIT BusyChanged();
    if (ARx)
        SetStatus(QStringLiteral("処方を抽出中です..."), StatusLine::Navy);
    else if (AThenExtract)
        SetStatus(
            QStringLiteral("選択範囲をテキスト化しています（このあと検査項目を抽出します）..."),
            StatusLine::Navy);
    else
        SetStatus(QStringLiteral("選択範囲を解析中です..."), StatusLine::Navy);
}

void TRecognitionActions::RunExtract(const QString& AText, const QString& APatientId) {
    if (TextRules::Trim(AText).isEmpty())
        return;
    // Both callers make sure no task runs; a third one must not share the client.
    if (FJob->IsBusy()) {
        Messages::Show(FWindow, Busy);
        return;
    }
    TAccount account;
    if (!ReadAccount(account))
        return;
    TExtractRequest request;
    request.Email = account.Email;
    request.Password = account.Password;
    request.Text = AText;
    request.PatientId = APatientId;
    FJob->StartExtract(std::move(request));
    Q_EMIT BusyChanged();
    SetStatus(QStringLiteral("検査項目を抽出中です..."), StatusLine::Navy);
}

void TRecognitionActions::ShowOcrResult(const TOcrResult& AResult) {
    Q_EMIT BusyChanged();
    if (AResult.Ok && !TextRules::Trim(AResult.Text).isEmpty()) {
        SaveOcrText(AResult.PatientId, AResult.Rx ? QStringLiteral("_処方") : QString(),
                    AResult.Text);
        if (AResult.ThenExtract)
            RunExtract(AResult.Text, AResult.PatientId);
    } else if (AResult.Ok) {
        SetStatus(QStringLiteral("文字を検出できませんでした。"), StatusLine::Maroon);
    } else {
        SetStatus(QStringLiteral("解析に失敗しました: ") + AResult.Error, StatusLine::Maroon);
    }
}

void TRecognitionActions::ShowExtractResult(const TExtractResult& AResult) {
    Q_EMIT BusyChanged();
    if (!AResult.Ok) {
        SetStatus(QStringLiteral("抽出に失敗しました: ") + AResult.Error, StatusLine::Maroon);
        return;
    }
    if (!AResult.ItemNames.isEmpty())
        FItemOrder = AResult.ItemNames;
    const QString tsv = BuildLabTsv(AResult.Values, AResult.ExamDate, AResult.Institution);
    if (!tsv.isEmpty()) {
        SaveOcrText(AResult.PatientId, QStringLiteral("_検査"), tsv);
    } else {
        SetStatus(QStringLiteral("検査項目を抽出しましたが、値を検出できませんでした。"),
                  StatusLine::Maroon);
    }
    ShowLabResults(FWindow, AResult.Values, AResult.ExamDate, AResult.Institution, AResult.NotFound,
                   AResult.ItemsError,
                   TLabTrendRequest{FContext.SaveFolder ? FContext.SaveFolder() : QString(),
                                    AResult.PatientId, FItemOrder});
}

void TRecognitionActions::SaveOcrText(const QString& APatientCode, const QString& AKind,
                                      const QString& AText) {
    Q_EMIT TextProduced(SavedFiles::ResultFileName(APatientCode, AKind, TClock::Now()), AText);
}
