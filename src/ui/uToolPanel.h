#pragma once
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class TFormLayout;

// The three rows of commands above the preview: the patient number and the turns, the
// recognition commands, and the file commands. Rows wrap with the panel's width as it
// is when built.
class TToolPanel : public QWidget {
    Q_OBJECT
public:
    TToolPanel(QWidget* AParent, int AWidth, const TFormLayout& ALayout);

    QLabel* lblPatientId = nullptr;
    QLineEdit* edtPatientId = nullptr;
    QPushButton* btnRotL = nullptr;
    QPushButton* btnRotR = nullptr;
    QLabel* lblHint = nullptr;
    QPushButton* btnOcrRegion = nullptr;
    QPushButton* btnOcrFull = nullptr;
    QPushButton* btnRx = nullptr;
    QPushButton* btnExtract = nullptr;
    QPushButton* btnSaveAs = nullptr;
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnCopyText = nullptr;
    QPushButton* btnItems = nullptr;
    QPushButton* btnHistory = nullptr;
};
