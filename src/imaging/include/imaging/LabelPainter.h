#pragma once

#include "imaging/Label.h"

#include <QPoint>
#include <QRect>
#include <QSize>

class QPainter;

namespace imaging {

// Where an image lies on a painted surface: scaled by scale from a
// whole-pixel origin. A surface pixel shows the image pixel under its centre,
// so a click, the image drawn and the labels drawn all agree on one pixel.
class ImagePlacement {
public:
    ImagePlacement(QSize image, double scale, QPoint origin);
    // Scaled to fit the surface with the aspect ratio kept, centred.
    static ImagePlacement fitted(QSize image, QSize surface);

    QSize imageSize() const { return m_image; }
    double scale() const { return m_scale; }
    QPoint origin() const { return m_origin; }

    // The image pixel under the centre of a surface pixel; it lies outside
    // the image when the surface pixel does.
    QPoint imagePixelAt(QPoint surfacePixel) const;
    // A surface pixel that shows the image pixel: the one holding its centre
    // (the upper or left one when the centre falls on a pixel border).
    QPoint surfacePixelOf(QPoint imagePixel) const;
    // The surface pixels that show an image pixel.
    QRect surfaceRect() const;

private:
    int imageIndexAt(int surface, int origin) const;
    int surfaceIndexOf(int image, int origin) const;
    int surfaceCount(int imageCount, int origin) const;

    QSize m_image;
    double m_scale;
    QPoint m_origin;
};

// Draws the labels of an image placed on the painter's surface; the viewer
// and the burned-in copy share it, so both show the same picture. Lines are
// drawn on the surface pixels that show their image pixels; texts are kept
// inside the image.
void paintLabels(QPainter& painter, const LabelList& labels, const ImagePlacement& placement);
// The same on a surface that is the image itself (the burned-in copy).
void paintLabels(QPainter& painter, const LabelList& labels, QSize imageSize);

} // namespace imaging
