#pragma once
// Text recognition with Tesseract: a few engines, each used by one request at a time.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

class TRecognizer {
public:
    enum class TStatus { Ok, Empty, Undecodable, TooLarge, Unavailable };

    explicit TRecognizer(size_t AMaxEngines);
    ~TRecognizer();

    // Recognises Japanese and English text in an encoded image (JPEG, PNG and what else
    // Leptonica reads). Blocks while every engine is busy.
    TStatus Recognize(std::string_view AImage, std::string& AText);

private:
    struct TEngineDeleter {
        void operator()(tesseract::TessBaseAPI* AApi) const;
    };
    using TEngine = std::unique_ptr<tesseract::TessBaseAPI, TEngineDeleter>;

    TEngine Acquire();
    void Release(TEngine AEngine);

    const size_t FMaxEngines;
    std::mutex FLock;
    std::condition_variable FReleased;
    std::vector<TEngine> FIdle;
    size_t FCreated = 0;
};
