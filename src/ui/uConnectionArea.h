#pragma once
#include "service/uAccount.h"
#include "settings/uSettings.h"

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;
class TElidedLabel;
class TFormLayout;
class TReceivingSession;
struct TPollTimings;

// The top of the main window: the connection settings (接続設定), start and stop, and
// the status line. Owns the settings and the receiving session; receiving starts with
// what the boxes hold at the press.
class TConnectionArea : public QObject {
    Q_OBJECT
public:
    TConnectionArea(QWidget* AWindow, const TFormLayout& ALayout);

    // Reads the settings file into the boxes, opens the stored password (the keyring
    // may take its time) and starts receiving when the settings say so.
    void LoadSettings();
    void SaveSettings();

    void StartReceiving();
    void StopReceiving();
    // At close: stops, and when received items are saved, waits at most 2 s for an item
    // the worker has already taken, so that it is saved rather than lost. Without saving
    // the poll is left at once and the service keeps what it has not handed over.
    void StopForClose();
    bool IsReceiving() const;
    void SetPollTimings(const TPollTimings& ATimings);

    TAccount Account() const;
    int Height() const { return FGroupHeight + FControlHeight; }
    // Follows the window's width; the buttons never move, the status line stretches.
    void Place(int AWidth);

    void ShowStatus(const QString& AText, const QColor& AColor, const QString& AToolTip = {});
    // The worker's state: connected in green, anything else in maroon.
    void ShowWorkerStatus(const QString& AMessage, bool AConnected);

    QGroupBox* grpSettings = nullptr;
    QLineEdit* edtUrl = nullptr;
    QLineEdit* edtEmail = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtFolder = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* chkAutoSave = nullptr;
    QCheckBox* chkAutoConnect = nullptr;
    QCheckBox* chkRunAtStartup = nullptr;
    QWidget* pnlControl = nullptr;
    QPushButton* btnConnect = nullptr;
    QPushButton* btnStop = nullptr;
    TElidedLabel* lblStatus = nullptr;

    int LabelWidth = 0; // the widest caption of the boxes
    int EditLeft = 0;   // where the boxes start

Q_SIGNALS:
    void ImageReceived(const QString& AFilename, const QString& AContentType,
                       const QByteArray& AData);
    void TextReceived(const QString& AName, const QByteArray& ABytes);
    // Receiving went on or off: which commands apply has changed.
    void RunningChanged();

private:
    QLineEdit* AddLabeledEdit(const TFormLayout& ALayout, const QString& ACaption, int AY,
                              bool AIsPassword);
    void SettingsToControls();
    void ControlsToSettings();
    void PasswordOpened(const TOpenedPassword& AResult);
    void AutoConnect();
    void ShowStopped();
    void UpdateRunAtStartup(bool AEnable);

    QWidget* FWindow;
    TAppSettings FSettings;
    TReceivingSession* FSession;
    int FGroupHeight = 0;
    int FControlHeight = 0;
    int FStatusRightGap = 0;
};
