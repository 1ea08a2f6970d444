// Recognition and extraction of photographed lab reports, as scanlume-local does them: per page
// character accuracy, values read right, missed and WRONG (read, but not the printed value),
// exam date, institution and time per page, for the page as photographed ("as sent") and for
// the prepared page. Both run in this process, one after the other, on the same pictures.
//
//   bench_recognition [--set default|held-out] [--repeat N] [--text-height PX]
//                     [--contrasts G,G,...] [--languages L,L,...] [--reference-languages L]
//                     [--save DIR] [--only NAME-PART] [--turn QUARTERS] [--no-reference]
//                     [--show-text]
//
// The default set is the report pages the tests use, read for the eight default items; it
// holds the goals below. The held-out set is designs recognition was never tuned on, read for
// every test of the catalogue. Either fails on a WRONG value or a WRONG exam date in the
// prepared run: a wrong number in a chart is worse than a gap, so a missed one is no failure.
// --turn sends every photo turned clockwise by that many quarter turns, as a phone held
// sideways takes it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
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
#include "uHeldOutPages.h"
#include "uReportPages.h"

namespace {

enum class TVerdict { Right, Missing, Wrong };

const char* VerdictText(TVerdict AVerdict) {
    switch (AVerdict) {
    case TVerdict::Right:
        return "right";
    case TVerdict::Missing:
        return "missing";
    case TVerdict::Wrong:
        break;
    }
    return "WRONG";
}

// What extraction made of one page's text, against what the page prints.
struct TScore {
    int Correct = 0;
    int Present = 0;
    int Missed = 0;
    int Wrong = 0;
    TVerdict Date = TVerdict::Missing;
    // Another name than the printed one is shown, not failed: it is a label, not a value.
    TVerdict Institution = TVerdict::Missing;
    QStringList MissedItems;
    QStringList WrongItems; // "AST: printed 1250, read 125"
    QString DateRead;
    QString InstitutionRead;
};

struct TPageResult {
    double Accuracy = 0;
    TScore Score;
    double Milliseconds = 0;
};

struct TRun {
    std::string Title;
    double LoadMilliseconds = 0;
    double WallMilliseconds = 0;
    std::vector<TPageResult> Pages;
};

std::string Joined(const std::vector<std::string>& AParts) {
    std::string Out;
    for (const std::string& Part : AParts) {
        Out += (Out.empty() ? "" : " and ") + Part;
    }
    return Out;
}

// Values compared as a reader would: "（－）" is "(-)", and "1480" for a printed "1,480" is the
// same number, where "1.480" is not.
QString ComparableValue(const QString& AValue) {
    static const QRegularExpression Separator(QStringLiteral(R"((?<=\d),(?=\d{3}(?!\d)))"));
    return ComparableText(NormalizeReportText(AValue)).remove(Separator);
}

// The page's text as the service hands it on, extracted with AItems and scored. A value given
// for a test that the page does not print is WRONG too.
TScore Score(const QString& AText, const TReportPage& APage,
             const std::vector<TExtractItem>& AItems, const TDoubtfulNumbers* ADoubts = nullptr) {
    TScore S;
    const TExtraction Extraction = ExtractLabValues(AText, AItems, ADoubts);
    for (const auto& [Item, Printed] : APage.Values) {
        ++S.Present;
        const auto Found =
            std::find_if(Extraction.Results.begin(), Extraction.Results.end(),
                         [&](const TLabResult& AResult) { return AResult.Name == Item; });
        if (Found == Extraction.Results.end()) {
            ++S.Missed;
            S.MissedItems << Item;
        } else if (ComparableValue(Found->Value) == ComparableValue(Printed)) {
            ++S.Correct;
        } else {
            ++S.Wrong;
            S.WrongItems
                << QStringLiteral("%1: printed %2, read %3").arg(Item, Printed, Found->Value);
        }
    }
    for (const TLabResult& Result : Extraction.Results) {
        const bool Printed =
            std::any_of(APage.Values.begin(), APage.Values.end(),
                        [&](const auto& AValue) { return AValue.first == Result.Name; });
        if (!Printed) {
            ++S.Wrong;
            S.WrongItems
                << QStringLiteral("%1: not printed, read %2").arg(Result.Name, Result.Value);
        }
    }
    S.DateRead = Extraction.ExamDate;
    S.Date = Extraction.ExamDate.isEmpty()           ? TVerdict::Missing
             : Extraction.ExamDate == APage.ExamDate ? TVerdict::Right
                                                     : TVerdict::Wrong;
    S.InstitutionRead = Extraction.Institution;
    S.Institution = Extraction.Institution.isEmpty() ? TVerdict::Missing
                    : ComparableText(Extraction.Institution) == ComparableText(APage.Institution)
                        ? TVerdict::Right
                        : TVerdict::Wrong;
    return S;
}

// As the service answers a lab report's upload; the old path gave the text as read.
QString AsHandedOn(const QString& AText, bool ACorrect, const std::vector<TExtractItem>& AItems) {
    return ACorrect ? CorrectUnits(CorrectItemNames(AText, AItems)) : AText;
}

TPageResult Measure(TRecognizer& ARecognizer, bool ACorrect, const TReportPage& APage,
                    const std::vector<TExtractItem>& AItems, int ARepeat, bool AShowText) {
    TPageResult Result;
    std::string Text;
    // As the service keeps them for the extraction of this text.
    TDoubtfulNumbers Doubts;
    std::vector<double> Times;
    for (int i = 0; i < ARepeat; ++i) {
        QElapsedTimer Timer;
        Timer.start();
        if (ARecognizer.Recognize({APage.Jpeg.constData(), static_cast<size_t>(APage.Jpeg.size())},
                                  Text, &Doubts) != TRecognizer::TStatus::Ok) {
            std::fprintf(stderr, "%s: recognition failed\n", qPrintable(APage.Name));
            Result.Score = Score(QString(), APage, AItems);
            return Result;
        }
        Times.push_back(static_cast<double>(Timer.nsecsElapsed()) / 1e6);
    }
    std::sort(Times.begin(), Times.end());
    Result.Milliseconds = Times[Times.size() / 2];

    const QString Recognised = AsHandedOn(QString::fromStdString(Text), ACorrect, AItems);
    Result.Accuracy = CharacterAccuracy(APage.Text, Recognised);
    Result.Score = Score(Recognised, APage, AItems, ACorrect ? &Doubts : nullptr);
    if (AShowText) {
        std::printf("---- %s\n%s\n----\n", qPrintable(APage.Name), qPrintable(Recognised));
    }
    return Result;
}

TRun RunAll(const std::string& ATitle, const TRecognitionSettings& ASettings,
            const std::vector<TReportPage>& APages, const std::vector<TExtractItem>& AItems,
            int ARepeat, bool AShowText) {
    TRun Run;
    Run.Title = ATitle;
    QElapsedTimer Wall;
    Wall.start();
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
        Run.Pages.push_back(
            Measure(Recognizer, ASettings.Prepare, Page, AItems, ARepeat, AShowText));
    }
    Run.WallMilliseconds = static_cast<double>(Wall.nsecsElapsed()) / 1e6;
    return Run;
}

void PrintScoreRow(const char* AName, const char* AChars, const TScore& AScore,
                   const char* ASeconds) {
    std::printf("  %-34s %8s %7s %6d %5d %-7s %-7s %7s\n", AName, AChars,
                qPrintable(QStringLiteral("%1/%2").arg(AScore.Correct).arg(AScore.Present)),
                AScore.Missed, AScore.Wrong, VerdictText(AScore.Date),
                AScore.Institution == TVerdict::Wrong ? "other" : VerdictText(AScore.Institution),
                ASeconds);
}

void PrintDetails(const TScore& AScore, const QString& AExpectedDate) {
    if (!AScore.WrongItems.isEmpty()) {
        std::printf("      WRONG %s\n", qPrintable(AScore.WrongItems.join(QStringLiteral("; "))));
    }
    if (!AScore.MissedItems.isEmpty()) {
        std::printf("      missed %s\n", qPrintable(AScore.MissedItems.join(u' ')));
    }
    if (AScore.Date == TVerdict::Wrong) {
        std::printf("      date WRONG: printed %s, read %s\n", qPrintable(AExpectedDate),
                    qPrintable(AScore.DateRead));
    }
    if (AScore.Institution == TVerdict::Wrong) {
        std::printf("      institution read as \"%s\"\n", qPrintable(AScore.InstitutionRead));
    }
}

void PrintHeading(const char* AFirst) {
    std::printf("  %-34s %8s %7s %6s %5s %-7s %-7s %7s\n", AFirst, "chars", "correct", "missed",
                "WRONG", "date", "inst", "s/page");
}

void Print(const TRun& ARun, const std::vector<TReportPage>& APages) {
    std::printf("\n%s (loading two engines and a first page: %.0f ms; the whole run %.0f s)\n",
                ARun.Title.c_str(), ARun.LoadMilliseconds, ARun.WallMilliseconds / 1000);
    PrintHeading("page");
    for (size_t i = 0; i < APages.size(); ++i) {
        const TPageResult& R = ARun.Pages[i];
        const std::string Chars = QString::asprintf("%.2f%%", 100 * R.Accuracy).toStdString();
        const std::string Seconds = QString::asprintf("%.2f", R.Milliseconds / 1000).toStdString();
        PrintScoreRow(qPrintable(APages[i].Name), Chars.c_str(), R.Score, Seconds.c_str());
        PrintDetails(R.Score, APages[i].ExamDate);
    }
}

// Extraction alone, on each design's text exactly as printed: what it gets wrong there, it gets
// wrong whatever recognition reads.
void PrintPrintedText(const std::vector<TReportPage>& APages,
                      const std::vector<TExtractItem>& AItems) {
    std::printf("\nextraction of the printed text, no recognition\n");
    PrintHeading("design");
    QStringList Seen;
    for (const TReportPage& Page : APages) {
        const QString Design = Page.Name.section(u'/', 0, 0);
        if (Seen.contains(Design)) {
            continue;
        }
        Seen << Design;
        const TScore S = Score(AsHandedOn(Page.Text, true, AItems), Page, AItems);
        PrintScoreRow(qPrintable(Design), "", S, "");
        PrintDetails(S, Page.ExamDate);
    }
}

struct TSummary {
    double Accuracy = 0;
    int Correct = 0, Present = 0, Missed = 0, Wrong = 0;
    int DatesRight = 0, DatesMissing = 0, DatesWrong = 0;
    int InstitutionsRight = 0;
    int Pages = 0;
    double Milliseconds = 0;
    double WorstMilliseconds = 0;
};

// Pages photographed (ADegraded), as rendered, or both.
enum class TWhich { Clean, Degraded, All };

TSummary Summarise(const TRun& ARun, const std::vector<TReportPage>& APages, TWhich AWhich) {
    TSummary S;
    for (size_t i = 0; i < APages.size(); ++i) {
        if ((AWhich == TWhich::Clean && APages[i].Degraded) ||
            (AWhich == TWhich::Degraded && !APages[i].Degraded)) {
            continue;
        }
        const TPageResult& R = ARun.Pages[i];
        S.Accuracy += R.Accuracy;
        S.Correct += R.Score.Correct;
        S.Present += R.Score.Present;
        S.Missed += R.Score.Missed;
        S.Wrong += R.Score.Wrong;
        S.DatesRight += R.Score.Date == TVerdict::Right;
        S.DatesMissing += R.Score.Date == TVerdict::Missing;
        S.DatesWrong += R.Score.Date == TVerdict::Wrong;
        S.InstitutionsRight += R.Score.Institution == TVerdict::Right;
        S.Milliseconds += R.Milliseconds;
        S.WorstMilliseconds = std::max(S.WorstMilliseconds, R.Milliseconds);
        ++S.Pages;
    }
    S.Accuracy /= std::max(S.Pages, 1);
    S.Milliseconds /= std::max(S.Pages, 1);
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
    QString Set = QStringLiteral("default");
    QString SaveDir;
    QString Only;
    bool Reference = true;
    bool ShowText = false;
    int Turn = 0;
    const QStringList Args = App.arguments();
    for (qsizetype i = 1; i < Args.size(); ++i) {
        const QString& A = Args[i];
        const bool HasValue = i + 1 < Args.size();
        if (A == u"--set" && HasValue) {
            Set = Args[++i];
        } else if (A == u"--repeat" && HasValue) {
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
    const bool HeldOut = Set == u"held-out";
    if (!HeldOut && Set != u"default") {
        std::fprintf(stderr, "unknown set: %s (default or held-out)\n", qPrintable(Set));
        return 2;
    }
    // The service corrects names with the account's items and extracts with them; an account
    // that took every test of the catalogue is the held-out pages' reader.
    const std::vector<TExtractItem>& Items = HeldOut ? CatalogItems() : DefaultItems();

    std::vector<TReportPage> Pages = HeldOut ? MakeHeldOutPages() : MakeReportPages();
    std::erase_if(Pages, [&](const TReportPage& APage) { return !APage.Name.contains(Only); });
    if (Pages.empty()) {
        std::fprintf(stderr, "no page's name contains %s\n", qPrintable(Only));
        return 2;
    }
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

    std::printf("Recognition of %zu photographed lab reports (%s set, %s), median of %d runs "
                "per page\n",
                Pages.size(), qPrintable(Set),
                HeldOut ? "the catalogue's tests" : "the eight default items", Repeat);
    const TRun Before = Reference
                            ? RunAll("as sent (" + Joined(AsSent.Languages) + ", no preparation)",
                                     AsSent, Pages, Items, Repeat, false)
                            : TRun{};
    if (Reference) {
        Print(Before, Pages);
    }
    const TRun After = RunAll("prepared (" + Joined(Prepared.Languages) + ")", Prepared, Pages,
                              Items, Repeat, ShowText);
    Print(After, Pages);
    PrintPrintedText(Pages, Items);

    std::printf("\n%-10s %-10s %8s %9s %6s %5s %-15s %5s %7s %8s\n", "pages", "run", "chars",
                "correct", "missed", "WRONG", "dates r/m/WRONG", "inst", "s/page", "worst s");
    for (const TWhich Which : {TWhich::Clean, TWhich::Degraded, TWhich::All}) {
        for (const TRun* Run : {&Before, &After}) {
            if (Run->Pages.empty()) {
                continue;
            }
            const TSummary S = Summarise(*Run, Pages, Which);
            if (S.Pages == 0) {
                continue;
            }
            std::printf("%-10s %-10s %7.2f%% %4d/%-4d %6d %5d %-15s %5s %7.2f %8.2f\n",
                        Which == TWhich::Clean      ? "clean"
                        : Which == TWhich::Degraded ? "photo"
                                                    : "all",
                        Run == &Before ? "as sent" : "prepared", 100 * S.Accuracy, S.Correct,
                        S.Present, S.Missed, S.Wrong,
                        qPrintable(QStringLiteral("%1/%2/%3")
                                       .arg(S.DatesRight)
                                       .arg(S.DatesMissing)
                                       .arg(S.DatesWrong)),
                        qPrintable(QStringLiteral("%1/%2").arg(S.InstitutionsRight).arg(S.Pages)),
                        S.Milliseconds / 1000, S.WorstMilliseconds / 1000);
        }
    }
    const TSummary AfterAll = Summarise(After, Pages, TWhich::All);
    const bool Trusted = AfterAll.Wrong == 0 && AfterAll.DatesWrong == 0;
    std::printf("\nno WRONG value or exam date (prepared): %s\n", Trusted ? "met" : "MISSED");
    if (HeldOut) {
        return Trusted ? 0 : 1;
    }

    const TSummary BeforeDegraded =
        Reference ? Summarise(Before, Pages, TWhich::Degraded) : TSummary{};
    const TSummary AfterDegraded = Summarise(After, Pages, TWhich::Degraded);
    if (Reference) {
        std::printf("degraded pages, prepared / as sent: time %.2fx\n",
                    AfterDegraded.Milliseconds / BeforeDegraded.Milliseconds);
    }
    // Goals: every default item present found, 99 % of characters, 1.5 s a page.
    const bool Met = AfterDegraded.Correct == AfterDegraded.Present &&
                     AfterDegraded.Accuracy >= 0.99 && AfterDegraded.WorstMilliseconds <= 1500;
    std::printf("goals (all items, >= 99%% characters, <= 1500 ms/page): %s\n",
                Met ? "met" : "MISSED");
    return Met && Trusted ? 0 : 1;
}
