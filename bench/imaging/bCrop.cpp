// The cut-out for a recognition upload: CropToJpeg of a whole 12-megapixel photo
// (4032 x 3024, area-averaged down to 1568 x 1176, encoded at quality 85), beside
// `vipsthumbnail --size 1568` run as a command on the same photo's JPEG file, and
// libjpeg-turbo's bare encode of the 1568 x 1176 result, all measured in this run.
//
// The ratio table reads CPU time of the benchmark's thread, which does not see a child
// process. The command's benchmark therefore charges its thread, after the command has
// ended, with the command's own time, by spinning on the thread's CPU clock; the
// command itself runs undisturbed. Which time is charged: the command's wall time, from
// start to exit, as the user waits for it (vipsthumbnail may use several threads, so
// this is the stricter comparison for a single-threaded CropToJpeg); the command's CPU
// time (user and system, all its threads) is shown as a counter beside it.
// Without vipsthumbnail on the PATH the benchmark says so and fails.
//
// vipsthumbnail starts from the file, so its time holds a full decode of the photo
// (about 55 ms here) that CropToJpeg never does (the photo was decoded when it was
// shown); "DecodeImage + CropToJpeg" beside it goes the same road, for the like-for-like
// figure.

#include "imaging/uCrop.h"
#include "imaging/uImageDecode.h"
#include "uBenchCommand.h"
#include "uBenchRatios.h"
#include "uJpegFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace {

constexpr int KW = 4032, KH = 3024;
constexpr int KUploadW = 1568, KUploadH = 1176;

const char* const KOurs = "CropToJpeg whole photo";
const char* const KVips = "vipsthumbnail --size 1568 (command)";
const char* const KBare = "libjpeg-turbo bare encode 1568x1176";
const char* const KDownscale = "DownscaleArea 4032x3024 -> 1568x1176";
const char* const KEncode = "EncodeJpeg 1568x1176";
const char* const KFromFile = "DecodeImage + CropToJpeg";

struct TInput {
    QTemporaryDir Dir;
    QString JpegPath, OutPath;
    QByteArray Jpeg;  // the photo's file
    TBitmap24 Photo;  // the photo decoded, as CropToJpeg gets it
    TBitmap24 Upload; // the downscaled photo, for the encoders alone
};

TInput& Input() {
    static TInput* input = [] {
        auto* in = new TInput;
        // A phone photo: textured so it compresses like a photo of a document,
        // quality 90, with an Exif segment (orientation 1: upright as stored).
        in->Jpeg = MakeJpeg(KW, KH, TJpegExif{}, 90, true);
        const QByteArray& jpeg = in->Jpeg;
        in->JpegPath = in->Dir.filePath(QStringLiteral("photo.jpg"));
        in->OutPath = in->Dir.filePath(QStringLiteral("upload.jpg"));
        QFile f(in->JpegPath);
        if (!f.open(QIODevice::WriteOnly) || f.write(jpeg) != jpeg.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(in->JpegPath));
            std::exit(1);
        }
        f.close();
        std::optional<TBitmap24> photo = DecodeUpright(jpeg);
        if (!photo || photo->Width() != KW || photo->Height() != KH) {
            std::fprintf(stderr, "cannot decode the photo\n");
            std::exit(1);
        }
        in->Photo = std::move(*photo);
        in->Upload = DownscaleArea(in->Photo, TRect{0, 0, KW, KH}, KUploadW, KUploadH);
        return in;
    }();
    return *input;
}

bool GFailed = false;

void BmCropToJpeg(benchmark::State& AState) {
    const TBitmap24& photo = Input().Photo;
    qsizetype bytes = 0;
    for (auto _ : AState) {
        const QByteArray jpeg = CropToJpeg(photo, TRect{0, 0, KW, KH});
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.constData());
    }
    if (bytes == 0) {
        GFailed = true;
        AState.SkipWithError("CropToJpeg gave nothing");
    }
    AState.counters["out KB"] = double(bytes) / 1024;
}

void BmVipsThumbnail(benchmark::State& AState) {
    const TInput& in = Input();
    const std::vector<std::string> args = {"vipsthumbnail",
                                           in.JpegPath.toStdString(),
                                           "--size",
                                           "1568",
                                           "-o",
                                           in.OutPath.toStdString() + "[Q=85]"};
    double wall = 0, cpu = 0;
    for (auto _ : AState) {
        const TCommandRun run = RunCommand(args);
        if (!run.Ok) {
            GFailed = true;
            AState.SkipWithError(run.Error.c_str());
            break;
        }
        ChargeThread(run.WallSeconds);
        AState.SetIterationTime(run.WallSeconds);
        wall += run.WallSeconds;
        cpu += run.CpuSeconds;
    }
    AState.counters["wall ms"] = benchmark::Counter(wall * 1e3, benchmark::Counter::kAvgIterations);
    AState.counters["cmd CPU ms"] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}

// The reference encoder: libjpeg-turbo's plain loop over rows that already exist, into
// a memory buffer large enough from the start (so it never grows), defaults and
// quality 85 as CropToJpeg uses.
void BmBareEncode(benchmark::State& AState) {
    const TBitmap24& up = Input().Upload;
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(up.Height()));
    for (int y = 0; y < up.Height(); ++y)
        rows[std::size_t(y)] = const_cast<JSAMPROW>(up.Row(y));
    unsigned long capacity = 8ul << 20;
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(capacity));
    unsigned long size = 0;
    for (auto _ : AState) {
        jpeg_compress_struct info;
        jpeg_error_mgr err;
        info.err = jpeg_std_error(&err);
        jpeg_create_compress(&info);
        size = capacity;
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = JDIMENSION(up.Width());
        info.image_height = JDIMENSION(up.Height());
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 85, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height)
            jpeg_write_scanlines(&info, rows.data() + info.next_scanline,
                                 info.image_height - info.next_scanline);
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        benchmark::DoNotOptimize(buffer);
    }
    std::free(buffer);
    AState.counters["out KB"] = double(size) / 1024;
}

void BmDownscale(benchmark::State& AState) {
    const TBitmap24& photo = Input().Photo;
    for (auto _ : AState) {
        const TBitmap24 up = DownscaleArea(photo, TRect{0, 0, KW, KH}, KUploadW, KUploadH);
        benchmark::DoNotOptimize(up.Bits());
    }
}

// The whole road from the file's bytes, as vipsthumbnail goes it (minus its start).
// In the program the photo is decoded when it is shown, not when it is cut.
void BmFromFile(benchmark::State& AState) {
    const QByteArray& file = Input().Jpeg;
    for (auto _ : AState) {
        const std::optional<TBitmap24> photo = DecodeImage(file);
        const QByteArray jpeg = CropToJpeg(*photo, TRect{0, 0, KW, KH});
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

void BmEncode(benchmark::State& AState) {
    const TBitmap24& up = Input().Upload;
    for (auto _ : AState) {
        const QByteArray jpeg = EncodeJpeg(up, 85);
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail")).isEmpty()) {
        std::printf("vipsthumbnail not found on the PATH (Debian: libvips-tools); the "
                    "reference cannot be measured\n");
        return 1;
    }
    const TInput& in = Input();
    std::printf("Input: %d x %d photo, JPEG quality 90, %.2f MB; upload %d x %d, quality 85\n", KW,
                KH, QFileInfo(in.JpegPath).size() / 1e6, KUploadW, KUploadH);
    Configure(benchmark::RegisterBenchmark(KOurs, BmCropToJpeg));
    Configure(benchmark::RegisterBenchmark(KVips, BmVipsThumbnail))->UseManualTime();
    Configure(benchmark::RegisterBenchmark(KBare, BmBareEncode));
    Configure(benchmark::RegisterBenchmark(KDownscale, BmDownscale));
    Configure(benchmark::RegisterBenchmark(KEncode, BmEncode));
    Configure(benchmark::RegisterBenchmark(KFromFile, BmFromFile));
    const int rc = RunWithRatios(argc, argv, "Cut-out of a 12 MP photo for upload",
                                 {
                                     {KOurs, KVips, 0.5},
                                     {KOurs, KBare, 3.0},
                                     {KDownscale, KBare},
                                     {KEncode, KBare},
                                     {KFromFile, KVips},
                                 });
    if (GFailed) {
        std::printf("a benchmark failed (see above)\n");
        return 1;
    }
    return rc;
}
