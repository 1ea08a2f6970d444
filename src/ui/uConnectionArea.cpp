#include "ui/uConnectionArea.h"

#include "common/uErrors.h"
#include "common/uTextRules.h"
#include "files/uSavedFiles.h"
#include "platform/uAutostart.h"
#include "platform/uProtect.h"
#include "settings/uPaths.h"
#include "ui/uElidedLabel.h"
#include "ui/uFormLayout.h"
#include "ui/uMessages.h"
#include "ui/uStatusLine.h"
#include "worker/uReceivingSession.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {
const QString PasswordOpeningText = QStringLiteral("保存されたパスワードを読み込んでいます…");
} // namespace

TConnectionArea::TConnectionArea(QWidget* AWindow, const TFormLayout& ALayout)
    : QObject(AWindow), FWindow(AWindow), FSession(new TReceivingSession(this)) {
    const int clientW = AWindow->width();
    const int editH = ALayout.EditHeight();
    const int rowPitch = 9 + editH;
    for (const char* caption : {"サーバーURL", "メールアドレス", "パスワード", "保存フォルダ"})
        LabelWidth = std::max(LabelWidth, ALayout.TextWidth(QString::fromUtf8(caption)));
    LabelWidth += 8;
    EditLeft = 16 + LabelWidth + 10;

    grpSettings = new QGroupBox(QStringLiteral(" 接続設定 "), AWindow);
    FGroupHeight = 22 + 4 * rowPitch + 12;
    grpSettings->setGeometry(0, 0, clientW, FGroupHeight);
    edtUrl = AddLabeledEdit(ALayout, QStringLiteral("サーバーURL"), 22 + 0 * rowPitch, false);
    edtEmail = AddLabeledEdit(ALayout, QStringLiteral("メールアドレス"), 22 + 1 * rowPitch, false);
    edtPassword = AddLabeledEdit(ALayout, QStringLiteral("パスワード"), 22 + 2 * rowPitch, true);
    edtFolder = AddLabeledEdit(ALayout, QStringLiteral("保存フォルダ"), 22 + 3 * rowPitch, false);
    int x = EditLeft + 400 + 6;
    int y = 22 + 3 * rowPitch;
    btnBrowse = ALayout.AddButton(grpSettings, QStringLiteral("参照..."), x, y, 70);
    const int checkX = x + 24;
    chkAutoSave =
        ALayout.AddCheckBox(grpSettings, QStringLiteral("受信した画像を自動保存する"), checkX, 26);
    chkAutoConnect = ALayout.AddCheckBox(
        grpSettings, QStringLiteral("起動時に自動的に受信を開始する"), checkX, 26 + rowPitch);
    chkRunAtStartup =
        ALayout.AddCheckBox(grpSettings, RunAtStartupCaption(), checkX, 26 + 2 * rowPitch);

    pnlControl = new QWidget(AWindow);
    FControlHeight = 18 + ALayout.ButtonHeight();
    pnlControl->setGeometry(0, FGroupHeight, clientW, FControlHeight);
    x = 16;
    y = 9;
    btnConnect = ALayout.AddButton(pnlControl, QStringLiteral("▶ 受信開始"), x, y, 110);
    btnStop = ALayout.AddButton(pnlControl, QStringLiteral("■ 停止"), x, y, 80);
    lblStatus = new TElidedLabel(QStringLiteral("停止中"), pnlControl);
    lblStatus->setGeometry(x + 14, y + (ALayout.ButtonHeight() - ALayout.LineHeight()) / 2,
                           pnlControl->width() - x - 30, ALayout.LineHeight() + 2);
    FStatusRightGap = pnlControl->width() - lblStatus->geometry().right() - 1;
    ShowStopped();

    connect(btnConnect, &QPushButton::clicked, this, &TConnectionArea::StartReceiving);
    connect(btnStop, &QPushButton::clicked, this, &TConnectionArea::StopReceiving);
    connect(edtFolder, &QLineEdit::editingFinished, this, [this] {
        const QString absolute = SavedFiles::AbsoluteFolder(edtFolder->text());
        if (absolute != TextRules::Trim(edtFolder->text()))
            edtFolder->setText(absolute);
    });
    connect(FSession, &TReceivingSession::ImageReceived, this, &TConnectionArea::ImageReceived);
    connect(FSession, &TReceivingSession::TextReceived, this, &TConnectionArea::TextReceived);
    connect(FSession, &TReceivingSession::StatusChanged, this, &TConnectionArea::ShowWorkerStatus);
}

QLineEdit* TConnectionArea::AddLabeledEdit(const TFormLayout& ALayout, const QString& ACaption,
                                           int AY, bool AIsPassword) {
    const int editH = ALayout.EditHeight();
    auto* label = new QLabel(ACaption, grpSettings);
    label->setGeometry(16, AY + (editH - ALayout.LineHeight()) / 2, LabelWidth,
                       ALayout.LineHeight() + 2);
    auto* edit = new QLineEdit(grpSettings);
    edit->setGeometry(EditLeft, AY, 400, editH);
    if (AIsPassword) {
        edit->setEchoMode(QLineEdit::Password);
        // Every character shows as "*".
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    label->setBuddy(edit);
    return edit;
}

void TConnectionArea::Place(int AWidth) {
    grpSettings->setGeometry(0, 0, AWidth, FGroupHeight);
    pnlControl->setGeometry(0, FGroupHeight, AWidth, FControlHeight);
    QRect status = lblStatus->geometry();
    status.setRight(AWidth - FStatusRightGap - 1);
    lblStatus->setGeometry(status);
}

void TConnectionArea::LoadSettings() {
    FSettings.LoadFile();
    SettingsToControls();
    if (FSettings.FileUnreadable) {
        ShowStatus(QStringLiteral("設定ファイルを読み取れなかったため、既定の設定で起動しました"
                                  "。元のファイルは保存時に ") +
                       TAppSettings::BackupPath() + QStringLiteral(" として残します"),
                   StatusLine::Maroon);
    }
    // The keyring may wait for the user to unlock it; the window does not.
    PlatformPrepareKey(ConfigDir(), this, [this, stored = FSettings.StoredPassword] {
        if (!stored.isEmpty())
            PasswordOpened(TAppSettings::OpenPassword(stored));
    });
    if (FSettings.StoredPassword.isEmpty())
        AutoConnect();
    else
        ShowStatus(PasswordOpeningText,
                   FWindow->palette().color(QPalette::Disabled, QPalette::WindowText));
}

void TConnectionArea::PasswordOpened(const TOpenedPassword& AResult) {
    const bool current = AResult.Stored == FSettings.StoredPassword;
    FSettings.AcceptOpenedPassword(AResult);
    // Typed or connected meanwhile: what the user did wins.
    if (!current || FSession->IsReceiving() || !edtPassword->text().isEmpty()) {
        if (lblStatus->text() == PasswordOpeningText)
            ShowStopped();
        return;
    }
    if (!FSettings.PasswordOpened()) {
        // Said once; the stored password stays in the file until a new one is typed.
        ShowStatus(
            QStringLiteral(
                "保存されたパスワードを読み取れませんでした。パスワードを入力し直してください: ") +
                FSettings.PasswordError,
            StatusLine::Maroon);
        return;
    }
    edtPassword->setText(FSettings.Password);
    ShowStopped();
    AutoConnect();
}

void TConnectionArea::AutoConnect() {
    if (FSettings.AutoConnect && !FSettings.Email.isEmpty() && !FSettings.Password.isEmpty())
        StartReceiving();
}

void TConnectionArea::SettingsToControls() {
    edtUrl->setText(FSettings.ServerUrl);
    edtEmail->setText(FSettings.Email);
    edtPassword->setText(FSettings.Password);
    // Shown as the absolute folder it means, so that the user sees where files go.
    edtFolder->setText(SavedFiles::AbsoluteFolder(FSettings.SaveFolder));
    chkAutoSave->setChecked(FSettings.AutoSave);
    chkAutoConnect->setChecked(FSettings.AutoConnect);
    chkRunAtStartup->setChecked(FSettings.RunAtStartup);
}

void TConnectionArea::ControlsToSettings() {
    FSettings.ServerUrl = TextRules::Trim(edtUrl->text());
    FSettings.Email = TextRules::Trim(edtEmail->text());
    FSettings.Password = edtPassword->text();
    FSettings.SaveFolder = TextRules::Trim(edtFolder->text());
    FSettings.AutoSave = chkAutoSave->isChecked();
    FSettings.AutoConnect = chkAutoConnect->isChecked();
    FSettings.RunAtStartup = chkRunAtStartup->isChecked();
}

void TConnectionArea::SaveSettings() {
    ControlsToSettings();
    try {
        FSettings.Save();
    } catch (const std::exception& e) {
        // Settings that silently did not stick would be lost at the next start.
        Messages::Show(FWindow,
                       QStringLiteral("設定を保存できませんでした:\r\n") + ErrorMessage(e));
    }
    // The box means what the next sign-in does, whether or not receiving starts first.
    UpdateRunAtStartup(FSettings.RunAtStartup);
}

void TConnectionArea::UpdateRunAtStartup(bool AEnable) {
    if (!SetRunAtStartup(AEnable, QCoreApplication::applicationFilePath()))
        Messages::Show(FWindow,
                       AEnable ? QStringLiteral("サインイン時の自動起動を設定できませんでした。")
                               : QStringLiteral("サインイン時の自動起動を解除できませんでした。"));
}

TAccount TConnectionArea::Account() const {
    return {TextRules::Trim(edtUrl->text()), TextRules::Trim(edtEmail->text()),
            edtPassword->text()};
}

void TConnectionArea::SetPollTimings(const TPollTimings& ATimings) {
    FSession->SetPollTimings(ATimings);
}

bool TConnectionArea::IsReceiving() const {
    return FSession->IsReceiving();
}

void TConnectionArea::StartReceiving() {
    if (FSession->IsReceiving())
        return;
    if (!Account().IsComplete()) {
        Messages::Show(
            FWindow, QStringLiteral("サーバーURL・メールアドレス・パスワードを入力してください。"));
        return;
    }
    SaveSettings();
    FSession->Start({FSettings.ServerUrl, FSettings.Email, FSettings.Password});
    Q_EMIT RunningChanged();
}

void TConnectionArea::StopReceiving() {
    FSession->Stop();
    Q_EMIT RunningChanged();
    ShowStopped();
}

void TConnectionArea::StopForClose() {
    StopReceiving();
    if (chkAutoSave->isChecked())
        FSession->WaitForStopped(2000);
}

void TConnectionArea::ShowStopped() {
    ShowStatus(QStringLiteral("停止中"),
               FWindow->palette().color(QPalette::Disabled, QPalette::WindowText));
}

void TConnectionArea::ShowStatus(const QString& AText, const QColor& AColor,
                                 const QString& AToolTip) {
    StatusLine::Set(lblStatus, AText, AColor);
    lblStatus->setToolTip(AToolTip);
}

void TConnectionArea::ShowWorkerStatus(const QString& AMessage, bool AConnected) {
    ShowStatus(AMessage, AConnected ? StatusLine::Green : StatusLine::Maroon);
}
