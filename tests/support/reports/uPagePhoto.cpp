#include "uPagePhoto.h"

#include <QPainter>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <random>

void BlurPlane(std::vector<float>& APlane, int AWidth, int AHeight, double ASigma) {
    const int Radius = static_cast<int>(std::ceil(3 * ASigma));
    std::vector<float> Kernel(static_cast<size_t>(2 * Radius + 1));
    float Sum = 0;
    for (int i = -Radius; i <= Radius; ++i) {
        Kernel[static_cast<size_t>(i + Radius)] =
            static_cast<float>(std::exp(-(i * i) / (2 * ASigma * ASigma)));
        Sum += Kernel[static_cast<size_t>(i + Radius)];
    }
    for (float& K : Kernel) {
        K /= Sum;
    }
    std::vector<float> Pass(APlane.size());
    const auto At = [](int AValue, int ALimit) { return std::clamp(AValue, 0, ALimit - 1); };
    for (int y = 0; y < AHeight; ++y) {
        for (int x = 0; x < AWidth; ++x) {
            float V = 0;
            for (int i = -Radius; i <= Radius; ++i) {
                V += Kernel[static_cast<size_t>(i + Radius)] *
                     APlane[static_cast<size_t>(y * AWidth + At(x + i, AWidth))];
            }
            Pass[static_cast<size_t>(y * AWidth + x)] = V;
        }
    }
    for (int y = 0; y < AHeight; ++y) {
        for (int x = 0; x < AWidth; ++x) {
            float V = 0;
            for (int i = -Radius; i <= Radius; ++i) {
                V += Kernel[static_cast<size_t>(i + Radius)] *
                     Pass[static_cast<size_t>(At(y + i, AHeight) * AWidth + x)];
            }
            APlane[static_cast<size_t>(y * AWidth + x)] = V;
        }
    }
}

QImage PhotographPage(const QImage& AClean, int APixelSize, const TPhotoSettings& ASettings,
                      unsigned ASeed) {
    const int W = AClean.width();
    const int H = AClean.height();

    // Where the page's corners land in the frame: narrower at the far (top) edge when the phone
    // is tilted, inside the frame when the desk shows around it, then turned about the middle.
    QImage Placed(W, H, QImage::Format_RGB32);
    Placed.fill(ASettings.Desk ? QColor(105, 100, 95) : QColor(Qt::white));
    {
        const double Inset = ASettings.Desk ? 0.05 : 0;
        const double Narrow = ASettings.Keystone / 2;
        const QPolygonF Page{QPointF(0, 0), QPointF(W, 0), QPointF(W, H), QPointF(0, H)};
        const QPolygonF Seen{
            QPointF((Inset + Narrow) * W, Inset * H), QPointF((1 - Inset - Narrow) * W, Inset * H),
            QPointF((1 - Inset) * W, (1 - Inset) * H), QPointF(Inset * W, (1 - Inset) * H)};
        QTransform Warp;
        QTransform::quadToQuad(Page, Seen, Warp);
        QPainter Painter(&Placed);
        Painter.setRenderHint(QPainter::SmoothPixmapTransform);
        Painter.setRenderHint(QPainter::Antialiasing);
        Painter.translate(W / 2.0, H / 2.0);
        Painter.rotate(ASettings.SkewDegrees);
        Painter.translate(-W / 2.0, -H / 2.0);
        Painter.setTransform(Warp, true);
        Painter.drawImage(0, 0, AClean);
    }

    std::vector<float> Ink(static_cast<size_t>(W) * static_cast<size_t>(H));
    for (int y = 0; y < H; ++y) {
        const auto* Line = reinterpret_cast<const QRgb*>(Placed.constScanLine(y));
        for (int x = 0; x < W; ++x) {
            Ink[static_cast<size_t>(y * W + x)] = 1.0f - static_cast<float>(qGray(Line[x])) / 255;
        }
    }
    if (ASettings.Blur > 0) {
        BlurPlane(Ink, W, H, ASettings.Blur * APixelSize);
    }

    // The shadow's edge: a line, soft over 3 % of the page's shorter side.
    const double Fx = ASettings.ShadowFromX * W, Fy = ASettings.ShadowFromY * H;
    const double Dx = ASettings.ShadowToX * W - Fx, Dy = ASettings.ShadowToY * H - Fy;
    const double Length = std::max(1.0, std::hypot(Dx, Dy));
    const double Soft = 0.03 * std::min(W, H);

    std::mt19937 Random(ASeed);
    std::normal_distribution<double> Noise(0, std::max(ASettings.Noise, 1e-9));
    QImage Photo(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y) {
        auto* Line = reinterpret_cast<QRgb*>(Photo.scanLine(y));
        for (int x = 0; x < W; ++x) {
            const double Light = 0.6 * x / W + 0.4 * y / H;
            double Lit = 1;
            if (ASettings.ShadowDepth > 0) {
                // Right of the line, looking from its start to its end, lies in the shadow.
                const double Side = (Dx * (y - Fy) - Dy * (x - Fx)) / Length;
                const double Edge = std::clamp((Side + Soft) / (2 * Soft), 0.0, 1.0);
                Lit = 1 - ASettings.ShadowDepth * Edge * Edge * (3 - 2 * Edge);
            }
            const double Paper = ASettings.PaperBright - ASettings.Falloff * Light;
            const double T = Ink[static_cast<size_t>(y * W + x)];
            const double V = (Paper * (1 - T) + ASettings.InkLevel * T) * Lit +
                             (ASettings.Noise > 0 ? Noise(Random) : 0);
            const auto Channel = [&](double AFactor) {
                return static_cast<int>(std::clamp(V * AFactor, 0.0, 255.0));
            };
            Line[x] = qRgb(Channel(1.0), Channel(0.97), Channel(0.9));
        }
    }
    if (ASettings.QuarterTurns % 4 != 0) {
        return Photo.transformed(QTransform().rotate(90.0 * ASettings.QuarterTurns));
    }
    return Photo;
}
