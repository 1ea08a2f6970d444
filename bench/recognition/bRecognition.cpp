// Recognition and extraction of photographed lab reports, as scanlume-local does them: per page
// character accuracy, default items found with the printed value, institution, exam date and
// time per page, for the page as photographed ("as sent") and for the prepared page. Both run
// in this process, one after the other, on the same pictures.
//
//   bench_recognition [--repeat N] [--text-height PX] [--contrasts G,G,...]
//                     [--languages L,L,...] [--reference-languages L] [--save DIR]
//                     [--only NAME-PART] [--turn QUARTERS] [--no-reference] [--show-text]
//
// --turn sends every photo turned clockwise by that many quarter turns, as a phone held
// sideways takes it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTransform>

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "extraction/uCatalog.h"
#include "extraction/uExtraction.h"
#include "extraction/uNameCorrection.h"
#include "reading/uRecognizer.h"
#include "reading/uUnitCorrection.h"
#include "uReportPages.h"

namespace {

struct TPageResult {
    double Accuracy = 0;
    int ItemsFound = 0;
    int ItemsPresent = 0;
    bool InstitutionRight = false;
    bool DateRight = false;
    double Milliseconds = 0;
    QStringList Missed;
};

struct TRun {
    std::string Title;
    double LoadMilliseconds = 0;
    std::vector<TPageResult> Pages;
};

std::string Joined(const std::vector<std::string>& AParts) {
    std::string Out;
    for (const std::string& Part : AParts) {
        Out += (Out.empty() ? "" : " and ") + Part;
    }
    return Out;
}

TPageResult Measure(TRecognizer& ARecognizer, bool ACorrect, const TReportPage& APage, int ARepeat,
                    bool AShowText) {
    TPageResult Result;
    std::string Text;
    std::vector<double> Times;
    for (int i = 0; i < ARepeat; ++i) {
        QElapsedTimer Timer;
        Timer.start();
        if (ARecognizer.Recognize({APage.Jpeg.constData(), static_cast<size_t>(APage.Jpeg.size())},
                                  Text) != TRecognizer::TStatus::Ok) {
            std::fprintf(stderr, "%s: recognition failed\n", qPrintable(APage.Name));
            return Result;
        }
        Times.push_back(static_cast<double>(Timer.nsecsElapsed()) / 1e6);
    }
    std::sort(Times.begin(), Times.end());
    Result.Milliseconds = Times[Times.size() / 2];

    // As the service answers a lab report's upload; the old path gave the text as read.
    const QString Recognised =
        ACorrect ? CorrectUnits(CorrectItemNames(QString::fromStdString(Text), DefaultItems()))
                 : QString::fromStdString(Text);
    Result.Accuracy = CharacterAccuracy(APage.Text, Recognised);
    const TExtraction Extraction = ExtractLabValues(Recognised, DefaultItems());
    for (const auto& [Item, Value] : APage.Values) {
        ++Result.ItemsPresent;
        const auto Found =
            std::find_if(Extraction.Results.begin(), Extraction.Results.end(),
                         [&](const TLabResult& AResult) { return AResult.Name == Item; });
        if (Found != Extraction.Results.end() && Found->Value == Value) {
            ++Result.ItemsFound;
        } else {
            Result.Missed << Item + u'=' +
                                 (Found == Extraction.Results.end() ? QStringLiteral("?")
                                                                    : Found->Value);
        }
    }
    Result.InstitutionRight =
        ComparableText(Extraction.Institution) == ComparableText(APage.Institution);
    Result.DateRight = Extraction.ExamDate == APage.ExamDate;
    if (AShowText) {
        std::printf("---- %s\n%s\n----\n", qPrintable(APage.Name), qPrintable(Recognised));
    }
    return Result;
}

TRun RunAll(const std::string& ATitle, const TRecognitionSettings& ASettings,
            const std::vector<TReportPage>& APages, int ARepeat, bool AShowText) {
    TRun Run;
    Run.Title = ATitle;
    // As scanlume-local has them: two engines, loaded before the first request.
    TRecognizer Recognizer(2, ASettings);
    QElapsedTimer Timer;
    Timer.start();
    Recognizer.Preload();
    Recognizer.WaitForPreload();
    std::string Text;
    Recognizer.Recognize(
        {APages.front().Jpeg.constData(), static_cast<size_t>(APages.front().Jpeg.size())}, Text);
    Run.LoadMilliseconds = static_cast<double>(Timer.nsecsElapsed()) / 1e6;
    for (const TReportPage& Page : APages) {
        Run.Pages.push_back(Measure(Recognizer, ASettings.Prepare, Page, ARepeat, AShowText));
    }
    return Run;
}

void Print(const TRun& ARun, const std::vector<TReportPage>& APages) {
    std::printf("\n%s (loading two engines and a first page: %.0f ms)\n", ARun.Title.c_str(),
                ARun.LoadMilliseconds);
    std::printf("  %-28s %8s %7s %5s %5s %9s\n", "page", "chars", "items", "inst", "date",
                "ms/page");
    for (size_t i = 0; i < APages.size(); ++i) {
        const TPageResult& R = ARun.Pages[i];
        std::printf("  %-28s %7.2f%% %3d/%-3d %5s %5s %9.0f  %s\n", qPrintable(APages[i].Name),
                    100 * R.Accuracy, R.ItemsFound, R.ItemsPresent,
                    R.InstitutionRight ? "yes" : "no", R.DateRight ? "yes" : "no", R.Milliseconds,
                    qPrintable(R.Missed.join(u' ')));
    }
}

struct TSummary {
    double Accuracy = 0;
    int Found = 0, Present = 0;
    double Milliseconds = 0;
    double WorstMilliseconds = 0;
};

TSummary Summarise(const TRun& ARun, const std::vector<TReportPage>& APages, bool ADegraded) {
    TSummary S;
    int Count = 0;
    for (size_t i = 0; i < APages.size(); ++i) {
        if (APages[i].Degraded != ADegraded) {
            continue;
        }
        const TPageResult& R = ARun.Pages[i];
        S.Accuracy += R.Accuracy;
        S.Found += R.ItemsFound;
        S.Present += R.ItemsPresent;
        S.Milliseconds += R.Milliseconds;
        S.WorstMilliseconds = std::max(S.WorstMilliseconds, R.Milliseconds);
        ++Count;
    }
    S.Accuracy /= std::max(Count, 1);
    S.Milliseconds /= std::max(Count, 1);
    return S;
}

} // namespace

int main(int AArgc, char** AArgv) {
    QGuiApplication App(AArgc, AArgv);
    int Repeat = 3;
    TRecognitionSettings Prepared;
    TRecognitionSettings AsSent;
    AsSent.Prepare = false;
    AsSent.SingleCore = false;
    AsSent.Languages = {"jpn+eng"};
    QString SaveDir;
    QString Only;
    bool Reference = true;
    bool ShowText = false;
    int Turn = 0;
    const QStringList Args = App.arguments();
    for (qsizetype i = 1; i < Args.size(); ++i) {
        const QString& A = Args[i];
        const bool HasValue = i + 1 < Args.size();
        if (A == u"--repeat" && HasValue) {
            Repeat = std::max(1, Args[++i].toInt());
        } else if (A == u"--text-height" && HasValue) {
            Prepared.Preparation.TextHeight = Args[++i].toInt();
        } else if (A == u"--contrasts" && HasValue) {
            Prepared.Preparation.Contrasts.clear();
            for (const QString& Gamma : Args[++i].split(u',')) {
                Prepared.Preparation.Contrasts.push_back(Gamma.toFloat());
            }
        } else if (A == u"--languages" && HasValue) {
            Prepared.Languages.clear();
            for (const QString& L : Args[++i].split(u',')) {
                Prepared.Languages.push_back(L.toStdString());
            }
        } else if (A == u"--reference-languages" && HasValue) {
            AsSent.Languages = {Args[++i].toStdString()};
        } else if (A == u"--only" && HasValue) {
            Only = Args[++i];
        } else if (A == u"--turn" && HasValue) {
            Turn = Args[++i].toInt();
        } else if (A == u"--show-text") {
            ShowText = true;
        } else if (A == u"--no-reference") {
            Reference = false;
        } else if (A == u"--save" && HasValue) {
            SaveDir = Args[++i];
        } else {
            std::fprintf(stderr, "unknown argument: %s\n", qPrintable(A));
            return 2;
        }
    }

    std::vector<TReportPage> Pages = MakeReportPages();
    std::erase_if(Pages, [&](const TReportPage& APage) { return !APage.Name.contains(Only); });
    if (Turn % 4 != 0) {
        for (TReportPage& Page : Pages) {
            const QImage Photo = QImage::fromData(Page.Jpeg);
            Page.Jpeg = EncodeJpeg(Photo.transformed(QTransform().rotate(90.0 * Turn)), 95);
        }
    }
    if (!SaveDir.isEmpty()) {
        QDir().mkpath(SaveDir);
        for (const TReportPage& Page : Pages) {
            QFile File(SaveDir + u'/' + QString(Page.Name).replace(u'/', u'-') + ".jpg");
            if (File.open(QIODevice::WriteOnly)) {
                File.write(Page.Jpeg);
            }
            // And what the engine is given, to look at.
            TPixPtr Photo(pixReadMem(reinterpret_cast<const l_uint8*>(Page.Jpeg.constData()),
                                     static_cast<size_t>(Page.Jpeg.size())));
            TPreparationReport Report;
            const std::vector<TPixPtr> Variants =
                PreparePage(Photo.get(), Prepared.Preparation, &Report);
            if (!Variants.empty()) {
                Pix* Ready = Variants.front().get();
                const QString Name =
                    SaveDir + u'/' + QString(Page.Name).replace(u'/', u'-') + "-prepared.png";
                pixWrite(Name.toLocal8Bit().constData(), Ready, IFF_PNG);
                l_float32 Left = 0, Confidence = 0;
                TPixPtr Ink(pixConvertTo1(Ready, 128));
                pixFindSkew(Ink.get(), &Left, &Confidence);
                std::printf("%s: scale %.2f, skew %.2f degrees (%.2f left)\n",
                            qPrintable(Page.Name), Report.Scale, Report.SkewDegrees, Left);
            }
        }
    }

    std::printf("Recognition of %zu photographed lab reports, median of %d runs per page\n",
                Pages.size(), Repeat);
    const TRun Before = Reference
                            ? RunAll("as sent (" + Joined(AsSent.Languages) + ", no preparation)",
                                     AsSent, Pages, Repeat, false)
                            : TRun{};
    if (Reference) {
        Print(Before, Pages);
    }
    const TRun After =
        RunAll("prepared (" + Joined(Prepared.Languages) + ")", Prepared, Pages, Repeat, ShowText);
    Print(After, Pages);

    std::printf("\n%-10s %-10s %8s %9s %9s %9s\n", "pages", "run", "chars", "items", "ms/page",
                "worst ms");
    for (const bool Degraded : {false, true}) {
        for (const TRun* Run : {&Before, &After}) {
            if (Run->Pages.empty()) {
                continue;
            }
            const TSummary S = Summarise(*Run, Pages, Degraded);
            std::printf("%-10s %-10s %7.2f%% %4d/%-4d %9.0f %9.0f\n",
                        Degraded ? "degraded" : "clean", Run == &Before ? "as sent" : "prepared",
                        100 * S.Accuracy, S.Found, S.Present, S.Milliseconds, S.WorstMilliseconds);
        }
    }
    const TSummary BeforeAll = Reference ? Summarise(Before, Pages, true) : TSummary{};
    const TSummary AfterAll = Summarise(After, Pages, true);
    if (Reference) {
        std::printf("\ndegraded pages, prepared / as sent: time %.2fx\n",
                    AfterAll.Milliseconds / BeforeAll.Milliseconds);
    }
    // Goals: every default item present found, 99 % of characters, 1.5 s a page.
    const bool Met = AfterAll.Found == AfterAll.Present && AfterAll.Accuracy >= 0.99 &&
                     AfterAll.WorstMilliseconds <= 1500;
    std::printf("goals (all items, >= 99%% characters, <= 1500 ms/page): %s\n",
                Met ? "met" : "MISSED");
    return Met ? 0 : 1;
}
