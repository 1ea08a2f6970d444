#pragma once
// Photographs of Japanese lab reports, made on the spot: a few layouts and fonts, each clean
// and degraded the way a phone photo of paper is (skewed, blurred, dim, unevenly lit, noisy,
// JPEG-compressed). Seeded, so every run makes the same pictures. Each page carries its true
// text and the values, institution and date that extraction should find in it.
#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

struct TReportPage {
    QString Name; // "table-sans-30px/degraded"
    bool Degraded = false;
    QByteArray Jpeg;
    QString Text; // as printed, one line per printed row
    QString Institution;
    QString ExamDate; // yyyy-MM-dd
    // The items printed on the page, by their own name, with the printed value: the default
    // items here, the catalogue's tests on the held-out pages (uHeldOutPages.h).
    std::vector<std::pair<QString, QString>> Values;
};

class QImage;

// Every layout, clean then degraded.
std::vector<TReportPage> MakeReportPages();

QByteArray EncodeJpeg(const QImage& AImage, int AQuality);

// The text compared as a reader would: NFKC, every blank removed.
QString ComparableText(const QString& AText);

// Share of the true text's characters that the recognised text got right: one minus the edit
// distance over the true length, both compared with ComparableText. 0 when nothing matches.
double CharacterAccuracy(const QString& ATruth, const QString& ARecognised);
