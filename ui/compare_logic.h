// The calculations and texts of the compare view (published to QML as the
// singleton CompareLogic). Nothing here keeps state.
//
// A pane's view is a map {"scale", "cx", "cy"}: screen pixels per image
// pixel, and the point of the frame (in pixels of the frame as shown: upright,
// then turned by its applied rotation) at the centre of the pane. Zooming and
// panning in these image coordinates is what keeps the same spot of two
// frames under the pointer in both panes.
#pragma once

#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

namespace keepframe {

class CompareLogic : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    explicit CompareLogic(QObject* parent = nullptr) : QObject(parent) {}

    // The frame as shown: its upright size, sides swapped by a quarter turn.
    Q_INVOKABLE static QSizeF shownSize(double uprightW, double uprightH, int appliedRotation);
    // The scale at which the whole frame fits the pane (1 while either size is unknown).
    Q_INVOKABLE static double fitScale(double imageW, double imageH, double paneW, double paneH);
    // The whole frame in the pane, centred.
    Q_INVOKABLE static QVariantMap fitView(double imageW, double imageH, double paneW, double paneH);
    // Scales by `factor` about the pane point (px, py): the frame point under
    // it stays there. The scale stays between the fit (or 100 % for a frame
    // smaller than the pane) and 8 times the larger of fit and 100 %.
    Q_INVOKABLE static QVariantMap zoomView(const QVariantMap& view, double factor, double px, double py,
                                            double paneW, double paneH, double imageW, double imageH);
    // `zoomView` to an absolute scale.
    Q_INVOKABLE static QVariantMap scaleView(const QVariantMap& view, double scale, double px, double py,
                                             double paneW, double paneH, double imageW, double imageH);
    // Moves the frame by (dx, dy) screen pixels with the pointer.
    Q_INVOKABLE static QVariantMap panView(const QVariantMap& view, double dx, double dy, double paneW, double paneH,
                                           double imageW, double imageH);
    // Keeps the frame filling the pane where it is larger than the pane, and
    // centred along a side where it is smaller.
    Q_INVOKABLE static QVariantMap clampView(const QVariantMap& view, double paneW, double paneH, double imageW,
                                             double imageH);
    // 100 % centred on the centre of the largest face (boxes [x, y, w, h] in
    // upright pixels), or on the frame's centre when it has none.
    Q_INVOKABLE static QVariantMap faceView(const QVariantList& faces, double uprightW, double uprightH,
                                            int appliedRotation, double paneW, double paneH);
    // The centre of the largest face as shown; null when there is none.
    Q_INVOKABLE static QVariant largestFaceCentre(const QVariantList& faces, double uprightW, double uprightH,
                                                  int appliedRotation);
    // The frame after `from` in direction `delta` (+1 or -1) that is not
    // `pinned`; `from` itself at either end.
    Q_INVOKABLE static int stepOther(int count, int from, int delta, int pinned);
    // The frame first shown beside the pinned one: the next, else the one before; -1 when there is none.
    Q_INVOKABLE static int firstOther(int count, int pinned);

    // "Primary", "Review", "Removed", "Added" or "Not kept" for a status.
    Q_INVOKABLE static QString statusText(int status);
    // "Kept · Primary  ·  final score 0.62  ·  eyes fairly sharp  (154)" for a frame of momentFrames
    // ("Removed …" or "Not kept …" for one the user does not keep).
    Q_INVOKABLE static QString detailsText(const QVariantMap& frame);
    // "100 %", "Fit 23 %" for a view.
    Q_INVOKABLE static QString zoomText(const QVariantMap& view, bool fitted);

    // The image provider's URL of a frame below the input folder, at screen size or full resolution.
    Q_INVOKABLE static QString frameUrl(const QString& inputFolder, const QString& filename, bool full);
};

}  // namespace keepframe
