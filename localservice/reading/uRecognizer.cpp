#include "reading/uRecognizer.h"

#include "reading/uReadingMerge.h"

#include <dlfcn.h>
#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <system_error>

namespace {

// Decoding beyond this would take gigabytes; phone pictures stay far below it.
constexpr long long kMaxPixels = 80'000'000;

// Tesseract's OpenMP loops start a team of threads for each step of the network. With a few
// cores and requests on several threads at once, the teams mostly wait on each other: a page
// took four times as long as on one core. Parallel regions entered on this thread run on it
// alone. Found at run time, since which OpenMP runtime Tesseract brings, if any, is its own.
void KeepRecognitionOnThisThread() {
    using TSetMaxActiveLevels = void (*)(int);
    static const auto SetMaxActiveLevels =
        reinterpret_cast<TSetMaxActiveLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (SetMaxActiveLevels != nullptr) {
        SetMaxActiveLevels(0);
    }
}

using TClock = std::chrono::steady_clock;

// The first reading of an upright page of print, even a dim and noisy one, is at least 62 sure
// in the generated report photos; of a page on its side or upside down, at most 46.
constexpr float kDoubtfulConfidence = 54;
// How much surer a turned copy must read to be taken for the upright one.
constexpr float kTurnMargin = 10;

struct TBoxDeleter {
    void operator()(Box* ABox) const { boxDestroy(&ABox); }
};
using TBoxPtr = std::unique_ptr<Box, TBoxDeleter>;

// The page's lines with where they are and how sure the engine is of each. Null when the
// engine did not finish by ADeadline.
std::optional<TPageReading> ReadPage(tesseract::TessBaseAPI& AEngine, Pix* APage,
                                     TClock::time_point ADeadline) {
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
    if (Left <= 0) {
        return std::nullopt;
    }
    tesseract::ETEXT_DESC Monitor;
    Monitor.set_deadline_msecs(static_cast<int32_t>(Left));
    TPageReading Reading;
    AEngine.SetImage(APage);
    const bool Recognised = AEngine.Recognize(&Monitor) == 0;
    if (Monitor.deadline_exceeded()) {
        AEngine.Clear();
        return std::nullopt;
    }
    if (!Recognised) {
        AEngine.Clear();
        return Reading; // nothing the engine could read
    }
    Reading.Confidence = static_cast<float>(AEngine.MeanTextConf());
    const std::unique_ptr<tesseract::ResultIterator> Line(AEngine.GetIterator());
    if (Line) {
        do {
            if (Line->Empty(tesseract::RIL_TEXTLINE)) {
                continue;
            }
            const std::unique_ptr<char[]> Text(Line->GetUTF8Text(tesseract::RIL_TEXTLINE));
            TLineReading L;
            L.Text = Text ? Text.get() : "";
            while (!L.Text.empty() && (L.Text.back() == '\n' || L.Text.back() == ' ')) {
                L.Text.pop_back();
            }
            L.Confidence = Line->Confidence(tesseract::RIL_TEXTLINE);
            Line->BoundingBox(tesseract::RIL_TEXTLINE, &L.Left, &L.Top, &L.Right, &L.Bottom);
            Reading.Lines.push_back(std::move(L));
        } while (Line->Next(tesseract::RIL_TEXTLINE));
    }
    AEngine.Clear();
    return Reading;
}

} // namespace

void TRecognizer::TReaderDeleter::operator()(tesseract::TessBaseAPI* AApi) const {
    AApi->End();
    delete AApi;
}

TRecognizer::TRecognizer(size_t AMaxEngines, TRecognitionSettings ASettings)
    : FMaxEngines(AMaxEngines), FSettings(std::move(ASettings)) {
    setMsgSeverity(L_SEVERITY_NONE);
}

TRecognizer::~TRecognizer() {
    WaitForPreload();
}

void TRecognizer::Preload() {
    if (FPreloading.joinable()) {
        return;
    }
    FPreloading = std::thread([this] {
        for (;;) {
            {
                std::lock_guard Guard(FLock);
                if (FCreated >= FMaxEngines) {
                    return;
                }
                ++FCreated;
            }
            TEngine Engine = Load();
            std::lock_guard Guard(FLock);
            if (Engine.empty()) {
                --FCreated;
                FReleased.notify_one();
                return;
            }
            FIdle.push_back(std::move(Engine));
            FReleased.notify_one();
        }
    });
}

void TRecognizer::WaitForPreload() {
    if (FPreloading.joinable()) {
        FPreloading.join();
    }
}

TRecognizer::TEngine TRecognizer::Load() const {
    TEngine Engine;
    for (const std::string& Languages : FSettings.Languages) {
        TReader Reader(new tesseract::TessBaseAPI());
        Reader->SetVariable("debug_file", "/dev/null");
        if (Reader->Init(nullptr, Languages.c_str()) != 0) {
            return {};
        }
        Engine.push_back(std::move(Reader));
    }
    return Engine;
}

TRecognizer::TEngine TRecognizer::Acquire() {
    std::unique_lock Guard(FLock);
    FReleased.wait(Guard, [&] { return !FIdle.empty() || FCreated < FMaxEngines; });
    if (!FIdle.empty()) {
        TEngine Engine = std::move(FIdle.back());
        FIdle.pop_back();
        return Engine;
    }
    ++FCreated;
    Guard.unlock();
    // Loading the language data takes a moment; other requests carry on meanwhile.
    TEngine Engine = Load();
    if (Engine.empty()) {
        Guard.lock();
        --FCreated;
        FReleased.notify_one();
    }
    return Engine;
}

TRecognizer::TEngine TRecognizer::TryAcquireIdle() {
    std::lock_guard Guard(FLock);
    if (FIdle.empty()) {
        return {};
    }
    TEngine Engine = std::move(FIdle.back());
    FIdle.pop_back();
    return Engine;
}

void TRecognizer::Release(TEngine AEngine) {
    std::lock_guard Guard(FLock);
    FIdle.push_back(std::move(AEngine));
    FReleased.notify_one();
}

TRecognizer::TStatus TRecognizer::Recognize(std::string_view AImage, std::string& AText,
                                            TDoubtfulNumbers* ADoubts) {
    AText.clear();
    if (ADoubts != nullptr) {
        ADoubts->clear();
    }
    if (AImage.empty()) {
        return TStatus::Empty;
    }
    const auto* Data = reinterpret_cast<const l_uint8*>(AImage.data());
    l_int32 Format = 0, Width = 0, Height = 0, Bps = 0, Spp = 0, IsCmap = 0;
    if (pixReadHeaderMem(Data, AImage.size(), &Format, &Width, &Height, &Bps, &Spp, &IsCmap) != 0 ||
        Width <= 0 || Height <= 0) {
        return TStatus::Undecodable;
    }
    if (static_cast<long long>(Width) * Height > kMaxPixels) {
        return TStatus::TooLarge;
    }
    // Decoding and preparing take memory and time in proportion to the picture, so they wait
    // for an engine like the reading does: at most as many pictures at once as engines.
    TEngine Engine = Acquire();
    if (Engine.empty()) {
        return TStatus::Unavailable;
    }
    TStatus Status = TStatus::TooLarge;
    try {
        Status = ReadWith(Engine, Data, AImage.size(), AText, ADoubts);
    } catch (const std::bad_alloc&) {
        AText.clear();
    }
    Release(std::move(Engine));
    return Status;
}

std::vector<TPixPtr> TRecognizer::PrepareCopies(const unsigned char* AData, size_t ASize,
                                                int AQuarterTurns) const {
    std::vector<TPixPtr> Pages;
    TPixPtr Image(pixReadMem(AData, ASize));
    if (Image && AQuarterTurns != 0) {
        Image.reset(pixRotateOrth(Image.get(), AQuarterTurns));
    }
    if (!Image) {
        return Pages;
    }
    if (FSettings.Prepare) {
        Pages = PreparePage(Image.get(), FSettings.Preparation);
    }
    if (Pages.empty()) {
        Pages.push_back(std::move(Image));
    }
    return Pages;
}

TRecognizer::TStatus TRecognizer::ReadCopies(TEngine& AEngine, std::vector<TPixPtr>& APages,
                                             TClock::time_point ADeadline,
                                             std::vector<TPageReading>& AReadings,
                                             std::vector<char>& ADone, bool* ADoubtful) {
    // Every copy is read by every reader. The copies are shared out between this engine and
    // another one that is idle, if any: each takes the next copy as it finishes one, so that
    // no copy is ever in two threads (Tesseract and Leptonica change a picture's reference
    // count and, for some pictures, its pixels when they read it).
    const size_t Readers = AEngine.size();
    if (AReadings.size() != APages.size() * Readers || ADone.size() != AReadings.size()) {
        AReadings.assign(APages.size() * Readers, {});
        ADone.assign(AReadings.size(), false);
    }
    std::atomic<size_t> Next{0};
    std::atomic<bool> Stop{false};
    std::atomic<bool> TimedOut{false};
    std::atomic<bool> OutOfMemory{false};
    std::atomic<bool> Doubtful{false};
    const auto Read = [&](TEngine& AReaders) {
        if (FSettings.SingleCore) {
            KeepRecognitionOnThisThread();
        }
        try {
            for (size_t Page = Next++; Page < APages.size() && !Stop; Page = Next++) {
                for (size_t r = 0; r < Readers && !Stop; ++r) {
                    if (ADone[Page * Readers + r]) {
                        continue; // read before a stop
                    }
                    auto Reading = ReadPage(*AReaders[r], APages[Page].get(), ADeadline);
                    if (!Reading) {
                        TimedOut = Stop = true;
                        break;
                    }
                    // The first reading tells a page that does not lie upright; the others
                    // would only read its noise.
                    if (ADoubtful != nullptr && Page == 0 && r == 0 &&
                        Reading->Confidence < kDoubtfulConfidence) {
                        Doubtful = Stop = true;
                    }
                    AReadings[Page * Readers + r] = std::move(*Reading);
                    ADone[Page * Readers + r] = true;
                }
            }
        } catch (const std::bad_alloc&) {
            OutOfMemory = Stop = true; // the other thread stops too
        }
    };
    TEngine Helper = APages.size() > 1 ? TryAcquireIdle() : TEngine();
    {
        std::jthread HelperThread;
        if (!Helper.empty()) {
            try {
                HelperThread = std::jthread(Read, std::ref(Helper));
            } catch (const std::system_error&) {
                // No thread to be had: this one reads everything.
            }
        }
        Read(AEngine);
    }
    if (!Helper.empty()) {
        Release(std::move(Helper));
    }
    if (OutOfMemory) {
        return TStatus::TooLarge;
    }
    // A page read in part would pass for the whole page.
    if (TimedOut) {
        return TStatus::TimedOut;
    }
    if (ADoubtful != nullptr) {
        *ADoubtful = Doubtful;
    }
    return TStatus::Ok;
}

std::optional<int> TRecognizer::UprightTurn(tesseract::TessBaseAPI& AReader, Pix* ACopy,
                                            float AAsItLies, TClock::time_point ADeadline) const {
    if (FSettings.SingleCore) {
        KeepRecognitionOnThisThread();
    }
    // The middle of the page is enough to tell, and reads in half the time.
    const l_int32 Width = pixGetWidth(ACopy), Height = pixGetHeight(ACopy);
    TBoxPtr Middle(boxCreate(Width * 3 / 20, Height * 3 / 20, Width * 7 / 10, Height * 7 / 10));
    TPixPtr Probe(Middle ? pixClipRectangle(ACopy, Middle.get(), nullptr) : nullptr);
    if (!Probe) {
        Probe.reset(pixClone(ACopy));
    }
    const auto AsItLies = ReadPage(AReader, Probe.get(), ADeadline);
    if (!AsItLies) {
        return std::nullopt;
    }
    int Best = 0;
    float BestConfidence = std::max(AAsItLies, AsItLies->Confidence) + kTurnMargin;
    for (int Turn = 1; Turn <= 3; ++Turn) {
        const TPixPtr Turned(pixRotateOrth(Probe.get(), Turn));
        if (!Turned) {
            continue;
        }
        const auto Reading = ReadPage(AReader, Turned.get(), ADeadline);
        if (!Reading) {
            return std::nullopt;
        }
        if (Reading->Confidence > BestConfidence) {
            Best = Turn;
            BestConfidence = Reading->Confidence;
        }
    }
    return Best;
}

TRecognizer::TStatus TRecognizer::ReadWith(TEngine& AEngine, const unsigned char* AData,
                                           size_t ASize, std::string& AText,
                                           TDoubtfulNumbers* ADoubts) {
    const TClock::time_point Deadline =
        TClock::now() + std::chrono::milliseconds(FSettings.DeadlineMs);
    std::vector<TPixPtr> Pages = PrepareCopies(AData, ASize, 0);
    if (Pages.empty()) {
        return TStatus::Undecodable;
    }
    std::vector<TPageReading> Readings;
    std::vector<char> Done;
    bool Doubtful = false;
    if (const TStatus Status = ReadCopies(AEngine, Pages, Deadline, Readings, Done,
                                          FSettings.Prepare ? &Doubtful : nullptr);
        Status != TStatus::Ok) {
        return Status;
    }

    // A page lying on its side or upside down reads as noise, with little confidence. The
    // first reader tries the middle of the first copy turned each way; where one reads far
    // surer, the picture is turned so, prepared again and read. Otherwise the readings of the
    // page as it lies go on where they stopped.
    if (Doubtful) {
        const auto Turn = UprightTurn(*AEngine.front(), Pages.front().get(),
                                      Readings.front().Confidence, Deadline);
        if (!Turn) {
            return TStatus::TimedOut;
        }
        if (*Turn != 0) {
            Pages.clear();
            Readings.clear();
            Done.clear();
            // Decoded once already: what fails now is memory.
            Pages = PrepareCopies(AData, ASize, *Turn);
            if (Pages.empty()) {
                return TStatus::TooLarge;
            }
        }
        if (const TStatus Status = ReadCopies(AEngine, Pages, Deadline, Readings, Done, nullptr);
            Status != TStatus::Ok) {
            return Status;
        }
    }
    TMergedReading Merged = MergeReadingsWithDoubts(Readings);
    AText = TidyReading(Merged.Text);
    if (ADoubts != nullptr) {
        for (std::vector<std::string>& Line : Merged.DoubtfulNumbers) {
            for (std::string& Number : Line) {
                Number = TidyReading(Number);
            }
        }
        *ADoubts = std::move(Merged.DoubtfulNumbers);
    }
    return TStatus::Ok;
}
