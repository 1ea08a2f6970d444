#pragma once
#include "ui/uRecognitionJob.h"

#include <QObject>
#include <QString>

class QLabel;
class QLineEdit;
class QWidget;
class TPreviewPane;

// The controls the recognition commands read when they start and write their status to.
struct TRecognitionFields {
    QLineEdit* Url = nullptr;
    QLineEdit* Email = nullptr;
    QLineEdit* Password = nullptr;
    QLineEdit* PatientId = nullptr;
    QLabel* Status = nullptr;
};

// The four commands that turn what is shown into text and lab values: recognise the
// selection, the whole image, a prescription; extract lab values from the image or from
// the text on display. Results become text items (TextProduced) and the lab results
// window.
class TRecognitionActions : public QObject {
    Q_OBJECT
public:
    TRecognitionActions(QWidget* AWindow, TPreviewPane* APane, const TRecognitionFields& AFields);

    bool IsBusy() const { return FJob->IsBusy(); }
    TRecognitionJob& Job() { return *FJob; }

    void btnOcrRegionClick();
    void btnOcrFullClick();
    void btnRxClick();
    void btnExtractClick();

    void RunOcr(const QByteArray& AJpeg, bool ARx, bool AThenExtract);
    void RunExtract(const QString& ATxt);
    void SaveOcrText(const QString& APatientCode, const QString& AKind, const QString& AText);

Q_SIGNALS:
    // A task started or ended: which commands apply has changed.
    void BusyChanged();
    // A result text to list, copy and save under AName.
    void TextProduced(const QString& AName, const QString& AText);

private:
    void OcrFinished(const TOcrResult& AResult);
    void ExtractFinished(const TExtractResult& AResult);
    // The selection when usable, else the whole image.
    QByteArray SelectionOrWholeJpeg() const;
    // Server URL, e-mail and password, or false after telling the user.
    bool ReadAccount(QString& AUrl, QString& AEmail, QString& APwd);
    void SetStatus(const QString& AText, const QColor& AColor);

    QWidget* FWindow;
    TPreviewPane* FPane;
    TRecognitionFields FFields;
    TRecognitionJob* FJob; // child of this
};
