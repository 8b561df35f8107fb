#include "compare_logic.h"

#include "frame_image_provider.h"
#include "frame_info.h"
#include "view_logic.h"

#include <QUrl>

#include <algorithm>
#include <cmath>

namespace keepframe {

namespace {

QVariantMap view(double scale, double cx, double cy) {
    return QVariantMap{{"scale", scale}, {"cx", cx}, {"cy", cy}};
}

int quarterTurn(int rotation) { return ((rotation % 360) + 360) % 360; }

// One side of clampView: the centre coordinate along a side of the frame.
double clampCentre(double centre, double image, double pane, double scale) {
    if (image * scale <= pane) return image / 2;
    const double half = pane / 2 / scale;
    return std::clamp(centre, half, image - half);
}

}  // namespace

QSizeF CompareLogic::shownSize(double uprightW, double uprightH, int appliedRotation) {
    const int turn = quarterTurn(appliedRotation);
    return turn == 90 || turn == 270 ? QSizeF(uprightH, uprightW) : QSizeF(uprightW, uprightH);
}

double CompareLogic::fitScale(double imageW, double imageH, double paneW, double paneH) {
    if (imageW <= 0 || imageH <= 0 || paneW <= 0 || paneH <= 0) return 1.0;
    return std::min(paneW / imageW, paneH / imageH);
}

QVariantMap CompareLogic::fitView(double imageW, double imageH, double paneW, double paneH) {
    return view(fitScale(imageW, imageH, paneW, paneH), imageW / 2, imageH / 2);
}

QVariantMap CompareLogic::scaleView(const QVariantMap& v, double scale, double px, double py, double paneW,
                                    double paneH, double imageW, double imageH) {
    const double fit = fitScale(imageW, imageH, paneW, paneH);
    const double target = std::clamp(scale, std::min(fit, 1.0), 8 * std::max(fit, 1.0));
    const double old = v.value("scale", fit).toDouble() > 0 ? v.value("scale", fit).toDouble() : fit;
    // The frame point under the pointer before, put under it again after.
    const double ix = v.value("cx", imageW / 2).toDouble() + (px - paneW / 2) / old;
    const double iy = v.value("cy", imageH / 2).toDouble() + (py - paneH / 2) / old;
    return clampView(view(target, ix - (px - paneW / 2) / target, iy - (py - paneH / 2) / target), paneW, paneH,
                     imageW, imageH);
}

QVariantMap CompareLogic::zoomView(const QVariantMap& v, double factor, double px, double py, double paneW,
                                   double paneH, double imageW, double imageH) {
    const double scale = v.value("scale", fitScale(imageW, imageH, paneW, paneH)).toDouble();
    return scaleView(v, scale * factor, px, py, paneW, paneH, imageW, imageH);
}

QVariantMap CompareLogic::panView(const QVariantMap& v, double dx, double dy, double paneW, double paneH,
                                  double imageW, double imageH) {
    const double scale = v.value("scale", 1.0).toDouble();
    return clampView(view(scale, v.value("cx").toDouble() - dx / scale, v.value("cy").toDouble() - dy / scale),
                     paneW, paneH, imageW, imageH);
}

QVariantMap CompareLogic::clampView(const QVariantMap& v, double paneW, double paneH, double imageW, double imageH) {
    const double scale = v.value("scale").toDouble();
    if (!(scale > 0) || !std::isfinite(scale)) return fitView(imageW, imageH, paneW, paneH);
    return view(scale, clampCentre(v.value("cx").toDouble(), imageW, paneW, scale),
                clampCentre(v.value("cy").toDouble(), imageH, paneH, scale));
}

QVariant CompareLogic::largestFaceCentre(const QVariantList& faces, double uprightW, double uprightH,
                                         int appliedRotation) {
    double bestArea = 0, x = 0, y = 0;
    for (const QVariant& face : faces) {
        const QVariantList box = face.toList();
        if (box.size() < 4) continue;
        const double w = box[2].toDouble(), h = box[3].toDouble();
        if (w * h <= bestArea) continue;
        bestArea = w * h;
        x = box[0].toDouble() + w / 2;
        y = box[1].toDouble() + h / 2;
    }
    if (bestArea <= 0) return {};
    // The shown frame is the upright one turned clockwise.
    switch (quarterTurn(appliedRotation)) {
    case 90: return QPointF(uprightH - y, x);
    case 180: return QPointF(uprightW - x, uprightH - y);
    case 270: return QPointF(y, uprightW - x);
    default: return QPointF(x, y);
    }
}

QVariantMap CompareLogic::faceView(const QVariantList& faces, double uprightW, double uprightH, int appliedRotation,
                                   double paneW, double paneH) {
    const QSizeF shown = shownSize(uprightW, uprightH, appliedRotation);
    const QVariant centre = largestFaceCentre(faces, uprightW, uprightH, appliedRotation);
    const QPointF at = centre.isValid() ? centre.toPointF() : QPointF(shown.width() / 2, shown.height() / 2);
    return clampView(view(1.0, at.x(), at.y()), paneW, paneH, shown.width(), shown.height());
}

int CompareLogic::stepOther(int count, int from, int delta, int pinned) {
    const int step = delta < 0 ? -1 : 1;
    for (int at = from + step; at >= 0 && at < count; at += step)
        if (at != pinned) return at;
    return from;
}

int CompareLogic::firstOther(int count, int pinned) {
    const int next = stepOther(count, pinned, 1, pinned);
    if (next != pinned) return next;
    const int before = stepOther(count, pinned, -1, pinned);
    return before != pinned ? before : -1;
}

QString CompareLogic::statusText(int status) {
    switch (status) {
    case 1: return QStringLiteral("Primary");
    case 2: return QStringLiteral("Review");
    case 3: return QStringLiteral("Removed");
    case 4: return QStringLiteral("Added");
    default: return QStringLiteral("Not kept");
    }
}

QString CompareLogic::detailsText(const QVariantMap& frame) {
    const QString status = statusText(frame.value("status").toInt());
    const QString state = frame.value("userSelected").toBool() ? "Kept · " + status : status;
    const bool picked = frame.value("engineSelected").toBool();
    return state + "  ·  " + FrameInfo::scoreText(frame.value("score").toDouble(), picked) + "  ·  " +
           FrameInfo::eyeText(frame.value("eyeScore").toDouble());
}

QString CompareLogic::zoomText(const QVariantMap& v, bool fitted) {
    const QString percent = QString::number(std::lround(v.value("scale").toDouble() * 100)) + " %";
    return fitted ? "Fit " + percent : percent;
}

QString CompareLogic::frameUrl(const QString& inputFolder, const QString& filename, bool full) {
    const QString original = ViewLogic::originalUrl(inputFolder, filename);
    return original.isEmpty() ? QString() : FrameImageProvider::url(QUrl(original).toLocalFile(), full);
}

}  // namespace keepframe
