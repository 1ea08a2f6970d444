#pragma once
// Text recognition with Tesseract: a few engines, each used by one request at a time.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "reading/uPagePreparation.h"
#include "reading/uReadingMerge.h"

namespace tesseract {
class TessBaseAPI;
}

struct TRecognitionSettings {
    // Every prepared copy is read once per entry, and the readings vote. The Japanese model
    // alone misses slashes and hyphens between Latin letters ("U/L" as "UL"); with the English
    // one beside it, it reads those, but now and then takes a decimal number or a faint
    // Japanese word for English ("5.6" as "56").
    std::vector<std::string> Languages{"jpn", "jpn+eng"};
    bool Prepare = true; // false: the engine reads the picture as it came
    // Each request on one core. Off, Tesseract's OpenMP teams take both cores for one request
    // and spend most of it waiting (kept to measure against).
    bool SingleCore = true;
    // All of a request's readings together. A picture that keeps the engines longer (noise
    // read as thousands of characters) fails instead of holding them; pages take a second.
    int DeadlineMs = 60'000;
    TPreparationSettings Preparation;
};

class TRecognizer {
public:
    enum class TStatus { Ok, Empty, Undecodable, TooLarge, Unavailable, TimedOut };

    // At most AMaxEngines engines, each used by one request at a time.
    explicit TRecognizer(size_t AMaxEngines, TRecognitionSettings ASettings = {});
    ~TRecognizer();

    // Recognises Japanese and English text in an encoded image (JPEG, PNG and what else
    // Leptonica reads). Blocks while every engine is busy. ADoubts, when given, receives the
    // numbers of each line of AText that the readings did not agree on.
    TStatus Recognize(std::string_view AImage, std::string& AText,
                      TDoubtfulNumbers* ADoubts = nullptr);

    // Loads every engine on a thread of its own, so that requests do not wait for the
    // language data (one that comes meanwhile loads an engine itself); a request reads with a
    // second engine too when one is idle.
    void Preload();
    void WaitForPreload();

private:
    struct TReaderDeleter {
        void operator()(tesseract::TessBaseAPI* AApi) const;
    };
    using TReader = std::unique_ptr<tesseract::TessBaseAPI, TReaderDeleter>;
    // One reader per entry of the languages; empty when one could not be loaded.
    using TEngine = std::vector<TReader>;

    using TClock = std::chrono::steady_clock;

    TEngine Load() const;
    TStatus ReadWith(TEngine& AEngine, const unsigned char* AData, size_t ASize, std::string& AText,
                     TDoubtfulNumbers* ADoubts);
    // The picture decoded, turned clockwise by AQuarterTurns and prepared: one copy per
    // contrast curve, or the picture itself; none when it cannot be decoded.
    std::vector<TPixPtr> PrepareCopies(const unsigned char* AData, size_t ASize,
                                       int AQuarterTurns) const;
    // Every copy read by every reader of AEngine and of an idle engine, if there is one, but
    // those ADone marks as read (sized anew, all unread, when they do not fit APages). With
    // ADoubtful, reading stops, and it is set, when the first reading is too unsure for a page
    // lying upright.
    TStatus ReadCopies(TEngine& AEngine, std::vector<TPixPtr>& APages, TClock::time_point ADeadline,
                       std::vector<TPageReading>& AReadings, std::vector<char>& ADone,
                       bool* ADoubtful);
    // The quarter turns clockwise after which the middle of ACopy reads far surer than as it
    // lies (AAsItLies for the whole copy), or 0; none when the deadline passed.
    std::optional<int> UprightTurn(tesseract::TessBaseAPI& AReader, Pix* ACopy, float AAsItLies,
                                   TClock::time_point ADeadline) const;
    TEngine Acquire();
    TEngine TryAcquireIdle();
    void Release(TEngine AEngine);

    const size_t FMaxEngines;
    const TRecognitionSettings FSettings;
    std::mutex FLock;
    std::condition_variable FReleased;
    std::vector<TEngine> FIdle;
    size_t FCreated = 0;
    std::thread FPreloading;
};
