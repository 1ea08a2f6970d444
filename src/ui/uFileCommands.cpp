#include "ui/uFileCommands.h"

#include "common/uClock.h"
#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "files/uSavedFiles.h"
#include "items/uPastFile.h"
#include "recognition/uRecognitionJob.h"
#include "service/uApiClient.h"
#include "settings/uPaths.h"
#include "ui/uBusyCursor.h"
#include "ui/uClipboard.h"
#include "ui/uDesktop.h"
#include "ui/uDialogs.h"
#include "ui/uHistoryUI.h"
#include "ui/uItemListArea.h"
#include "ui/uItemManagerUI.h"
#include "ui/uMessages.h"
#include "ui/uPreviewPane.h"
#include "ui/uStatusLine.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>

TFileCommands::TFileCommands(QObject* AParent, TFileCommandContext AContext)
    : QObject(AParent), FContext(std::move(AContext)) {}

void TFileCommands::SetStatus(const QString& AText, const QColor& AColor, const QString& AToolTip) {
    Q_EMIT StatusChanged(AText, AColor, AToolTip);
}

void TFileCommands::btnCopyTextClick() {
    const QString text = FContext.Preview->TextToCopy();
    if (TextRules::Trim(text).isEmpty()) {
        Messages::Show(FContext.Window, QStringLiteral("コピーするテキストがありません。"));
        return;
    }
    if (!CopyToClipboard(SavedFiles::NormaliseLineBreaks(text))) {
        Messages::Show(FContext.Window, QStringLiteral("クリップボードへのコピーに失敗しました。"));
        return;
    }
    SetStatus(QStringLiteral("クリップボードにコピーしました。"), StatusLine::Green);
}

void TFileCommands::btnSaveAsClick() {
    const TReceivedItems& items = FContext.List->Items();
    const int i = FContext.List->ChosenIndex();
    if (i < 0 || i >= items.Count())
        return;
    const TReceivedImage& item = items.At(i);

    QFileDialog dialog(FContext.Window);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(
        item.IsText ? QStringList{QStringLiteral("テキストファイル (*.txt)"),
                                  QStringLiteral("すべてのファイル (*)")}
                    : QStringList{QStringLiteral("画像ファイル (*.jpg *.jpeg *.png *.bmp)"),
                                  QStringLiteral("すべてのファイル (*)")});
    // A received name is the sender's: only its safe file-name part is proposed.
    dialog.setDirectory(SaveFolderPath());
    dialog.selectFile(SavedFiles::SafeFileName(item.Filename));
    if (Dialogs::RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    // The bytes as received, not the turned preview; a text as UTF-8 with its mark.
    QByteArray bytes;
    QString error;
    if (!items.Bytes(i, bytes, error)) {
        Messages::Show(FContext.Window,
                       QStringLiteral("画像ファイルを読み込めませんでした:\r\n") + error);
        return;
    }
    if (!SavedFiles::WriteFileAtomically(path, bytes, error)) {
        Messages::Show(FContext.Window, error);
        return;
    }
    SetStatus(QStringLiteral("保存しました: ") + path, StatusLine::Green, path);
}

void TFileCommands::btnBrowseClick() {
    QFileDialog dialog(FContext.Window, QStringLiteral("保存フォルダを選択してください"),
                       TextRules::Trim(FContext.Folder()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (Dialogs::RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    FContext.SetFolder(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

void TFileCommands::btnOpenFolderClick() {
    const QString folder = SavedFiles::AbsoluteFolder(FContext.Folder());
    if (folder.isEmpty())
        return;
    if (!QDir().mkpath(folder) || !Desktop::Open(folder))
        SetStatus(QStringLiteral("保存フォルダを開けませんでした: ") + folder, StatusLine::Maroon,
                  folder);
}

bool TFileCommands::EnsureSignedIn(QString& AError) {
    AError.clear();
    const TAccount account = FContext.Account();
    if (!account.IsComplete()) {
        AError = QStringLiteral("サーバーURL・メールアドレス・パスワードを入力してください。");
        return false;
    }
    FContext.Job->EnsureClient(account);
    // The client is shared with the recognition task; never both at once.
    TApiClient* api = FContext.Job->IdleClient();
    if (api == nullptr) {
        AError = QStringLiteral("解析中です。完了までお待ちください。");
        return false;
    }
    if (!api->Token().isEmpty())
        return true;
    const bool ok = api->Login(account.Email, account.Password, AError);
    if (!ok && AError.isEmpty())
        AError = QStringLiteral("ログインに失敗しました。");
    return ok;
}

void TFileCommands::btnItemsClick() {
    QString error;
    bool ok = false;
    try {
        const TBusyCursor busy;
        ok = EnsureSignedIn(error);
    } catch (const std::exception& e) {
        // A network failure: the window stays usable and says why.
        Messages::Show(FContext.Window, ErrorMessage(e));
        return;
    }
    if (!ok) {
        Messages::Show(FContext.Window, error);
        return;
    }
    ShowItemManager(FContext.Window, *FContext.Job->IdleClient(), FContext.Account());
}

QString TFileCommands::SaveFolderPath() const {
    const QString folder = SavedFiles::AbsoluteFolder(FContext.Folder());
    return folder.isEmpty() ? FallbackTextFolder() : folder;
}

void TFileCommands::btnHistoryClick() {
    QString path;
    if (ShowHistory(FContext.Window, SaveFolderPath(), path,
                    FContext.ItemOrder ? FContext.ItemOrder() : QStringList()))
        OpenPastFile(path);
}

bool TFileCommands::OpenFile(const QString& APath, bool AMarkSaved) {
    if (PastFile::IsPdf(APath)) {
        if (Desktop::Open(APath))
            SetStatus(QStringLiteral("PDFを既定のアプリで開きました: ") + APath, StatusLine::Green,
                      APath);
        else
            SetStatus(QStringLiteral("PDFを開けるアプリが見つかりませんでした: ") + APath,
                      StatusLine::Maroon, APath);
        return false;
    }
    TReceivedImage item;
    QString error;
    if (!PastFile::Read(APath, item, error)) {
        SetStatus(QStringLiteral("ファイルを開けませんでした: ") + error, StatusLine::Maroon,
                  error);
        Messages::Show(FContext.Window, QStringLiteral("ファイルを開けませんでした:\r\n") + APath +
                                            QStringLiteral("\r\n") + error);
        return false;
    }
    if (!AMarkSaved)
        item.SavedPath.clear();
    Q_EMIT EntryOpened(item);
    return true;
}

void TFileCommands::OpenPastFile(const QString& APath) {
    if (OpenFile(APath, true))
        SetStatus(QStringLiteral("過去のファイルを開きました: ") + APath, StatusLine::Green, APath);
}

void TFileCommands::AddFiles(const QStringList& APaths) {
    for (const QString& path : APaths) {
        if (OpenFile(path, false))
            SetStatus(QStringLiteral("ファイルを開きました: ") + path, StatusLine::Green, path);
    }
}

void TFileCommands::AddPastedImage(const QImage& AImage) {
    if (AImage.isNull())
        return;
    TReceivedImage item;
    QBuffer buffer(&item.Data);
    buffer.open(QIODevice::WriteOnly);
    if (!AImage.save(&buffer, "PNG")) {
        Messages::Show(FContext.Window, QStringLiteral("貼り付けた画像を読み込めませんでした。"));
        return;
    }
    item.ReceivedAt = TClock::Now();
    item.Filename = QStringLiteral("貼り付け_") +
                    item.ReceivedAt.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                    QStringLiteral(".png");
    item.ContentType = QStringLiteral("image/png");
    Q_EMIT EntryOpened(item);
    SetStatus(QStringLiteral("クリップボードの画像を追加しました: ") + item.Filename,
              StatusLine::Green);
}
