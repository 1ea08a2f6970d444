// Showing a 12-megapixel phone photo tagged with orientation 6 (decode, turn upright,
// ready to draw) against libjpeg-turbo's bare decode of the same file.

#include "imaging/uImageDecode.h"
#include "imaging/uOrientation.h"
#include "uBenchRatios.h"
#include "uJpegFixture.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int KW = 4000, KH = 3000;

// Stored 4000 x 3000 (landscape) with orientation 6, as a phone held upright writes it;
// textured so it compresses like a photo of a document, quality 90.
const QByteArray& PhonePhoto() {
    static const QByteArray photo = [] {
        TJpegExif exif;
        exif.Orientation = 6;
        return MakeJpeg(KW, KH, exif, 90, true);
    }();
    return photo;
}

// The reference: libjpeg-turbo's plain decode loop into 24-bit rows of a buffer that
// already exists, what djpeg does minus writing the file.
void BareDecode(const QByteArray& ABytes, std::vector<uint8_t>& AOut) {
    jpeg_decompress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(ABytes.constData()),
                 static_cast<unsigned long>(ABytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGB;
    jpeg_start_decompress(&info);
    const std::size_t rowBytes = static_cast<std::size_t>(info.output_width) * 3;
    AOut.resize(rowBytes * info.output_height);
    std::vector<JSAMPROW> rows(info.output_height);
    for (JDIMENSION y = 0; y < info.output_height; ++y)
        rows[y] = AOut.data() + y * rowBytes;
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, rows.data() + info.output_scanline,
                            info.output_height - info.output_scanline);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

void BmBareDecode(benchmark::State& AState) {
    const QByteArray& photo = PhonePhoto();
    std::vector<uint8_t> out;
    BareDecode(photo, out); // the buffer exists before timing starts
    for (auto _ : AState) {
        BareDecode(photo, out);
        benchmark::DoNotOptimize(out.data());
    }
    AState.counters["file MB"] = photo.size() / 1e6;
}

void BmDecodeUpright(benchmark::State& AState) {
    const QByteArray& photo = PhonePhoto();
    for (auto _ : AState) {
        std::optional<TBitmap24> shown = DecodeUpright(photo);
        const QImage drawable = BitmapToImage(*shown);
        benchmark::DoNotOptimize(drawable.constBits());
        if (shown->Width() != KH)
            AState.SkipWithError("not turned");
    }
}

void BmDecodeThenTurn(benchmark::State& AState) {
    const QByteArray& photo = PhonePhoto();
    for (auto _ : AState) {
        std::optional<TBitmap24> stored = DecodeImage(photo);
        TBitmap24 shown = ApplyOrientation(std::move(*stored), ReadJpegOrientation(photo));
        benchmark::DoNotOptimize(shown.Bits());
    }
}

void BmDecodeAsStored(benchmark::State& AState) {
    const QByteArray& photo = PhonePhoto();
    for (auto _ : AState) {
        std::optional<TBitmap24> stored = DecodeImage(photo);
        benchmark::DoNotOptimize(stored->Bits());
    }
}

void BmQtReader(benchmark::State& AState) {
    const QByteArray& photo = PhonePhoto();
    for (auto _ : AState) {
        QBuffer buffer;
        buffer.setData(photo);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        benchmark::DoNotOptimize(image.constBits());
        if (image.width() != KH)
            AState.SkipWithError("not turned");
    }
}

} // namespace

int main(int argc, char** argv) {
    std::printf("Input: %d x %d JPEG, orientation 6, quality 90, %.2f MB\n", KW, KH,
                PhonePhoto().size() / 1e6);
    Configure(benchmark::RegisterBenchmark("libjpeg-turbo bare decode", BmBareDecode));
    Configure(benchmark::RegisterBenchmark("DecodeUpright (shown, turned)", BmDecodeUpright));
    Configure(benchmark::RegisterBenchmark("DecodeImage + ApplyOrientation", BmDecodeThenTurn));
    Configure(benchmark::RegisterBenchmark("DecodeImage (as stored)", BmDecodeAsStored));
    Configure(benchmark::RegisterBenchmark("QImageReader, auto-transform", BmQtReader));
    return RunWithRatios(argc, argv, "Showing a 12 MP photo tagged 6",
                         {
                             {"DecodeUpright (shown, turned)", "libjpeg-turbo bare decode", 1.3},
                             {"DecodeImage + ApplyOrientation", "libjpeg-turbo bare decode"},
                             {"DecodeImage (as stored)", "libjpeg-turbo bare decode"},
                             {"QImageReader, auto-transform", "libjpeg-turbo bare decode"},
                         });
}
