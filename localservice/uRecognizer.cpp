#include "uRecognizer.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#include <QRegularExpression>
#include <QString>

namespace {

// Decoding beyond this would take gigabytes; phone pictures stay far below it.
constexpr long long kMaxPixels = 80'000'000;

// Tesseract separates Japanese characters with blanks; written Japanese has none.
std::string TidyText(const char* AText) {
    static const QRegularExpression CjkGap(QStringLiteral(
        R"((?<=[\x{3000}-\x{9FFF}\x{FF00}-\x{FFEF}]) +(?=[\x{3000}-\x{9FFF}\x{FF00}-\x{FFEF}]))"));
    QString Text = QString::fromUtf8(AText);
    Text.remove(CjkGap);
    return Text.toStdString();
}

} // namespace

void TRecognizer::TEngineDeleter::operator()(tesseract::TessBaseAPI* AApi) const {
    AApi->End();
    delete AApi;
}

TRecognizer::TRecognizer(size_t AMaxEngines, TRecognitionSettings ASettings)
    : FMaxEngines(AMaxEngines), FSettings(std::move(ASettings)) {
    setMsgSeverity(L_SEVERITY_NONE);
}

TRecognizer::~TRecognizer() {
    if (FPreloading.joinable()) {
        FPreloading.join();
    }
}

void TRecognizer::Preload() {
    if (FPreloading.joinable()) {
        return;
    }
    FPreloading = std::thread([this] {
        if (TEngine Engine = Acquire()) {
            Release(std::move(Engine));
        }
    });
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
    TEngine Engine(new tesseract::TessBaseAPI());
    Engine->SetVariable("debug_file", "/dev/null");
    if (Engine->Init(nullptr, FSettings.Languages.c_str()) != 0) {
        Guard.lock();
        --FCreated;
        FReleased.notify_one();
        return nullptr;
    }
    return Engine;
}

void TRecognizer::Release(TEngine AEngine) {
    std::lock_guard Guard(FLock);
    FIdle.push_back(std::move(AEngine));
    FReleased.notify_one();
}

TRecognizer::TStatus TRecognizer::Recognize(std::string_view AImage, std::string& AText) {
    AText.clear();
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
    TPixPtr Image(pixReadMem(Data, AImage.size()));
    if (!Image) {
        return TStatus::Undecodable;
    }
    if (FSettings.Prepare) {
        if (TPixPtr Prepared = PreparePage(Image.get(), FSettings.Preparation)) {
            Image = std::move(Prepared);
        }
    }

    TEngine Engine = Acquire();
    if (!Engine) {
        return TStatus::Unavailable;
    }
    Engine->SetImage(Image.get());
    std::unique_ptr<char[]> Text(Engine->GetUTF8Text());
    Engine->Clear();
    Release(std::move(Engine));
    if (Text) {
        AText = TidyText(Text.get());
    }
    return TStatus::Ok;
}
