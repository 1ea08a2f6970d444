#pragma once
#include "recognition/uRecognitionJob.h"
#include "service/uAccount.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TPreviewPane;

// What the recognition commands read of the window at the moment of a press.
struct TRecognitionContext {
    std::function<TAccount()> Account;
    std::function<QString()> PatientId;  // the box, as typed
    std::function<QString()> SaveFolder; // where result texts are saved
};

// The four commands that turn what is shown into text and lab values: recognise the
// selection, the whole image, a prescription; extract lab values from the image or from
// the text on display. Results become text items (TextProduced) and the lab results
// window.
class TRecognitionActions : public QObject {
    Q_OBJECT
public:
    TRecognitionActions(QWidget* AWindow, TPreviewPane* APane, TRecognitionContext AContext);

    bool IsBusy() const { return FJob->IsBusy(); }
    // The account's extraction items as the last extraction read them; empty before one.
    const QStringList& ItemOrder() const { return FItemOrder; }
    TRecognitionJob& Job() { return *FJob; }

    void btnOcrRegionClick();
    void btnOcrFullClick();
    void btnRxClick();
    void btnExtractClick();

    void RunOcr(const QByteArray& AJpeg, bool ARx, bool AThenExtract);
    // APatientId: trimmed, as it was at the press; the lab table is filed under it.
    void RunExtract(const QString& AText, const QString& APatientId);
    void SaveOcrText(const QString& APatientCode, const QString& AKind, const QString& AText);

Q_SIGNALS:
    // A task started or ended: which commands apply has changed.
    void BusyChanged();
    // A result text to list, copy and save under AName.
    void TextProduced(const QString& AName, const QString& AText);
    void StatusChanged(const QString& AText, const QColor& AColor, const QString& AToolTip);

private:
    void ShowOcrResult(const TOcrResult& AResult);
    void ShowExtractResult(const TExtractResult& AResult);
    // The selection when usable, else the whole image.
    QByteArray SelectionOrWholeJpeg() const;
    // Server URL, e-mail and password, or false after telling the user.
    bool ReadAccount(TAccount& AAccount);
    void SetStatus(const QString& AText, const QColor& AColor);

    QWidget* FWindow;
    TPreviewPane* FPane;
    TRecognitionContext FContext;
    TRecognitionJob* FJob; // child of this
    QStringList FItemOrder;
};
