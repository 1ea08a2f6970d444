#include "ui/uToolPanel.h"

#include "ui/uFormLayout.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TToolPanel::TToolPanel(QWidget* AParent, int AWidth, const TFormLayout& ALayout)
    : QWidget(AParent) {
    const int btnH = ALayout.ButtonHeight();
    const int editH = ALayout.EditHeight();
    const int lineH = ALayout.LineHeight();
    resize(AWidth, (btnH + 6) * 3 + 8);
    int x = 8;
    int y = 5;
    lblPatientId = new QLabel(QStringLiteral("患者ID(任意)"), this);
    lblPatientId->adjustSize();
    lblPatientId->move(x, y + (btnH - lineH) / 2);
    x = x + 6 + lblPatientId->width();
    edtPatientId = new QLineEdit(this);
    edtPatientId->setGeometry(x, y + (btnH - editH) / 2, 100, editH);
    lblPatientId->setBuddy(edtPatientId);
    x = x + 100 + 8;
    btnRotL = ALayout.AddButton(this, QStringLiteral("↺ 左回転"), x, y, 70);
    btnRotR = ALayout.AddButton(this, QStringLiteral("↻ 右回転"), x, y, 70);
    lblHint = new QLabel(QStringLiteral("ヒント: 傾きは回転で補正→対象部分をドラッグで囲む"), this);
    QPalette hintPalette = lblHint->palette();
    hintPalette.setColor(QPalette::WindowText,
                         palette().color(QPalette::Disabled, QPalette::WindowText));
    lblHint->setPalette(hintPalette);
    lblHint->adjustSize();
    lblHint->move(x + 6, y + (btnH - lineH) / 2);

    ALayout.NextButtonRow(x, y);
    btnOcrRegion = ALayout.AddButton(this, QStringLiteral("🔍 選択範囲をテキスト化"), x, y, 150);
    btnOcrFull = ALayout.AddButton(this, QStringLiteral("画像全体をテキスト化"), x, y, 130);
    btnRx = ALayout.AddButton(this, QStringLiteral("💊 処方を抽出"), x, y, 110);
    btnExtract = ALayout.AddButton(this, QStringLiteral("🧪 検査項目抽出"), x, y, 120);

    ALayout.NextButtonRow(x, y);
    btnSaveAs = ALayout.AddButton(this, QStringLiteral("名前を付けて保存..."), x, y, 130);
    btnOpenFolder = ALayout.AddButton(this, QStringLiteral("保存フォルダを開く"), x, y, 130);
    btnCopyText = ALayout.AddButton(this, QStringLiteral("📋 テキストをコピー"), x, y, 140);
    btnItems = ALayout.AddButton(this, QStringLiteral("⚙ 抽出項目の設定..."), x, y, 140);
    btnHistory =
        ALayout.AddButton(this, QStringLiteral("🗂 過去のファイル..."), x, y, 140);
    setFixedHeight(y + btnH + 8);
}
