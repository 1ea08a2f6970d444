#include "imaging/uImageDecode.h"

#include "imaging/uOrientation.h"
#include "imaging/uRotate.h"
#include "imaging/uRotateRows.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// ---------------------------------------------------------------------------------------
// JPEG through libjpeg-turbo, straight into 24-bit rows. Qt's reader would decode to
// 32-bit pixels and need a second pass to pack them; this path decodes into the bitmap
// itself, and for a turned photo turns each band of rows while it is still in cache.
//
// libjpeg reports fatal errors by calling error_exit, which must not return. It jumps
// back to a setjmp in JpegCall; everything between the two (libjpeg and the small
// captureless steps passed to JpegCall) is plain C data, so nothing is left undestroyed.

struct TJpegError {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegFail(j_common_ptr AInfo) {
    auto* err = reinterpret_cast<TJpegError*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, err->Message);
    std::longjmp(err->Jump, 1);
}

void JpegMessage(j_common_ptr AInfo, int ALevel) {
    // Data that ends early decodes as grey from the cut on, with only a warning: treat it
    // as the broken file it is. The warning comes when the entropy decoder needs bits that
    // are not there, not when it merely reads ahead: a file missing no more than its end
    // marker still decodes whole.
    if (ALevel < 0 && AInfo->err->msg_code == JWRN_HIT_MARKER)
        JpegFail(AInfo);
    // Other warnings (stray bytes, a missing end marker) leave a whole picture.
}

void JpegSilent(j_common_ptr) {}

struct TJpegSession {
    jpeg_decompress_struct Info;
    TJpegError Error;
    bool Created = false;
    bool TooLarge = false; // the declared size is over the pixel limit

    TJpegSession() {
        std::memset(&Info, 0, sizeof Info);
        std::memset(&Error, 0, sizeof Error);
    }
    ~TJpegSession() {
        if (Created)
            jpeg_destroy_decompress(&Info);
    }
    TJpegSession(const TJpegSession&) = delete;
    TJpegSession& operator=(const TJpegSession&) = delete;
};

using TJpegStep = void (*)(TJpegSession&, void*);

// Runs one step; false when libjpeg gave up (the reason is in Error.Message).
bool JpegCall(TJpegSession& AS, TJpegStep AStep, void* AArg) {
    if (setjmp(AS.Error.Jump))
        return false;
    AStep(AS, AArg);
    return true;
}

struct TJpegSource {
    const uint8_t* Data;
    unsigned long Size;
};

struct TRowBatch {
    JSAMPARRAY Rows;
    JDIMENSION Count;
    JDIMENSION Got;
};

// Checked on the declared size, before a decoder allocates anything for the picture.
bool WithinPixelLimit(qint64 AWidth, qint64 AHeight) {
    return AWidth > 0 && AHeight > 0 && AWidth * AHeight <= MaxImagePixels;
}

QString TooLargeText(qint64 AWidth, qint64 AHeight) {
    return QStringLiteral("画像が大きすぎます: %1 x %2").arg(AWidth).arg(AHeight);
}

// Reads the header and starts decompression to packed RGB.
// False with Message set by libjpeg, or with Message empty for a colour space that
// libjpeg cannot turn into RGB (CMYK, YCCK): Qt's reader takes those.
bool JpegStart(TJpegSession& AS, const QByteArray& ABytes) {
    AS.Info.err = jpeg_std_error(&AS.Error.Pub);
    AS.Error.Pub.error_exit = JpegFail;
    AS.Error.Pub.emit_message = JpegMessage;
    AS.Error.Pub.output_message = JpegSilent;
    TJpegSource src{reinterpret_cast<const uint8_t*>(ABytes.constData()),
                    static_cast<unsigned long>(ABytes.size())};
    const bool ok = JpegCall(
        AS,
        [](TJpegSession& AS, void* AArg) {
            const auto* s = static_cast<const TJpegSource*>(AArg);
            jpeg_create_decompress(&AS.Info);
            AS.Created = true;
            jpeg_mem_src(&AS.Info, s->Data, s->Size);
            jpeg_read_header(&AS.Info, TRUE);
        },
        &src);
    if (!ok)
        return false;
    // A progressive picture's coefficients are allocated when decompression starts:
    // the declared size must be checked before.
    if (!WithinPixelLimit(AS.Info.image_width, AS.Info.image_height)) {
        AS.TooLarge = true;
        return false;
    }
    if (AS.Info.jpeg_color_space == JCS_CMYK || AS.Info.jpeg_color_space == JCS_YCCK) {
        AS.Error.Message[0] = '\0';
        return false;
    }
    AS.Info.out_color_space = JCS_EXT_RGB;
    return JpegCall(
        AS, [](TJpegSession& AS, void*) { jpeg_start_decompress(&AS.Info); }, nullptr);
}

// Reads up to ACount rows into ARows; the number read goes to AGot.
bool JpegReadRows(TJpegSession& AS, uint8_t** ARows, int ACount, int& AGot) {
    TRowBatch batch{ARows, static_cast<JDIMENSION>(ACount), 0};
    const bool ok = JpegCall(
        AS,
        [](TJpegSession& AS, void* AArg) {
            auto* b = static_cast<TRowBatch*>(AArg);
            while (b->Got < b->Count && AS.Info.output_scanline < AS.Info.output_height) {
                const JDIMENSION n =
                    jpeg_read_scanlines(&AS.Info, b->Rows + b->Got, b->Count - b->Got);
                if (n == 0)
                    break; // a suspending source; jpeg_mem_src never suspends
                b->Got += n;
            }
        },
        &batch);
    AGot = static_cast<int>(batch.Got);
    return ok;
}

void SetError(QString* AError, const QString& AText) {
    if (AError)
        *AError = AText;
}

QString JpegErrorText(const TJpegSession& AS) {
    return QStringLiteral("JPEG を読み込めません: %1")
        .arg(QString::fromLocal8Bit(AS.Error.Message));
}

bool LooksLikeJpeg(const QByteArray& ABytes) {
    return ABytes.size() >= 2 && static_cast<uint8_t>(ABytes[0]) == 0xFF &&
           static_cast<uint8_t>(ABytes[1]) == 0xD8;
}

// Rows decoded before they are turned. Short bands would keep the rows in the
// second-level cache, but give each result row only a few bytes per band, so most
// result cache lines are written in pieces; measured on a 12 MP photo, 32 rows cost
// 1.3 times the bare decode, 512 rows (6 MB) 1.1.
constexpr int KBandRows = 512;

enum class TJpegResult { Ok, Failed, NotHandled };

// Decodes a JPEG and applies the turn of an orientation on the way (1 for as stored);
// the mirror of a mirrored orientation follows in Decode.
TJpegResult DecodeJpeg(const QByteArray& ABytes, int AOrientation, TBitmap24& AOut,
                       QString* AError) {
    TJpegSession s;
    if (!JpegStart(s, ABytes)) {
        if (s.TooLarge) {
            SetError(AError, TooLargeText(s.Info.image_width, s.Info.image_height));
            return TJpegResult::Failed;
        }
        if (s.Error.Message[0] == '\0')
            return TJpegResult::NotHandled;
        SetError(AError, JpegErrorText(s));
        return TJpegResult::Failed;
    }
    const int w = static_cast<int>(s.Info.output_width);
    const int h = static_cast<int>(s.Info.output_height);
    if (s.Info.output_components != 3 || w <= 0 || h <= 0) {
        SetError(AError, QStringLiteral("JPEG を読み込めません: 出力形式が RGB ではありません"));
        return TJpegResult::Failed;
    }

    const bool quarter = AOrientation == 6 || AOrientation == 8;
    const bool half = AOrientation == 3;
    TBitmap24 out(quarter ? h : w, quarter ? w : h);

    if (!quarter && !half) {
        // As stored: decode straight into the bitmap's rows.
        std::vector<uint8_t*> rows(static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y)
            rows[static_cast<std::size_t>(y)] = out.Row(y);
        int got = 0;
        if (!JpegReadRows(s, rows.data(), h, got)) {
            SetError(AError, JpegErrorText(s));
            return TJpegResult::Failed;
        }
        if (got != h) {
            SetError(AError, QStringLiteral("JPEG を読み込めません: 行が足りません"));
            return TJpegResult::Failed;
        }
    } else {
        const int bandRows = quarter ? std::min(KBandRows, h) : 1;
        TBitmap24 band(w, bandRows);
        std::vector<uint8_t*> rows(static_cast<std::size_t>(bandRows));
        for (int i = 0; i < bandRows; ++i)
            rows[static_cast<std::size_t>(i)] = band.Row(i);
        for (int y = 0; y < h;) {
            // Turning clockwise fills the result from its left edge with the last rows, so
            // bands are counted from the bottom: their edges then fall on whole cache lines
            // of the result.
            const int want =
                AOrientation == 6 && y == 0 ? (h - 1) % bandRows + 1 : std::min(bandRows, h - y);
            int got = 0;
            if (!JpegReadRows(s, rows.data(), want, got)) {
                SetError(AError, JpegErrorText(s));
                return TJpegResult::Failed;
            }
            if (got == 0) {
                SetError(AError, QStringLiteral("JPEG を読み込めません: 行が足りません"));
                return TJpegResult::Failed;
            }
            if (quarter) {
                RotateRows90(band.Row(0), band.Stride(), w, h, y, got, out.Bits(), out.Stride(),
                             AOrientation == 6);
            } else {
                for (int i = 0; i < got; ++i)
                    ReverseRow(out.Row(h - 1 - (y + i)), band.Row(i), w);
            }
            y += got;
        }
    }
    // The trailer after the last scan is not read: a file that lost only its end marker
    // still shows.
    AOut = std::move(out);
    return TJpegResult::Ok;
}

// Any format Qt's readers know, detected from the content.
std::optional<TBitmap24> DecodeWithQt(const QByteArray& ABytes, QString* AError) {
    QBuffer buffer;
    buffer.setData(ABytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    // Formats whose header gives no size are bounded by Qt's own allocation limit.
    const QSize declared = reader.size();
    if (declared.isValid() && !WithinPixelLimit(declared.width(), declared.height())) {
        SetError(AError, TooLargeText(declared.width(), declared.height()));
        return std::nullopt;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        SetError(AError, QStringLiteral("画像を読み込めません: %1").arg(reader.errorString()));
        return std::nullopt;
    }
    return ImageToBitmap(image);
}

std::optional<TBitmap24> Decode(const QByteArray& ABytes, int AOrientation, QString* AError) {
    if (ABytes.isEmpty()) {
        SetError(AError, QStringLiteral("画像データが空です"));
        return std::nullopt;
    }
    try {
        if (LooksLikeJpeg(ABytes)) {
            TBitmap24 out;
            switch (DecodeJpeg(ABytes, OrientationTurn(AOrientation), out, AError)) {
            case TJpegResult::Ok:
                return OrientationMirrors(AOrientation) ? MirrorBitmap(std::move(out))
                                                        : std::move(out);
            case TJpegResult::Failed:
                return std::nullopt;
            case TJpegResult::NotHandled:
                break;
            }
        }
        std::optional<TBitmap24> decoded = DecodeWithQt(ABytes, AError);
        if (!decoded)
            return std::nullopt;
        return ApplyOrientation(std::move(*decoded), AOrientation);
    } catch (const std::bad_alloc&) {
        SetError(AError, QStringLiteral("画像を読み込むためのメモリが足りません"));
        return std::nullopt;
    }
}

} // namespace

std::optional<TBitmap24> DecodeImage(const QByteArray& ABytes, QString* AError) {
    return Decode(ABytes, 1, AError);
}

std::optional<TBitmap24> DecodeUpright(const QByteArray& ABytes, QString* AError) {
    return Decode(ABytes, ReadJpegOrientation(ABytes), AError);
}

QImage BitmapToImage(const TBitmap24& ABitmap) {
    if (ABitmap.IsEmpty())
        return {};
    // The const-data constructor makes the image read-only: writing to it detaches a copy.
    return QImage(ABitmap.Bits(), ABitmap.Width(), ABitmap.Height(),
                  static_cast<qsizetype>(ABitmap.Stride()), QImage::Format_RGB888);
}

TBitmap24 ImageToBitmap(const QImage& AImage) {
    if (AImage.isNull())
        return {};
    const QImage rgb = AImage.format() == QImage::Format_RGB888
                           ? AImage
                           : AImage.convertToFormat(QImage::Format_RGB888);
    TBitmap24 out(rgb.width(), rgb.height());
    const std::size_t rowBytes = static_cast<std::size_t>(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(out.Row(y), rgb.constScanLine(y), rowBytes);
    return out;
}
