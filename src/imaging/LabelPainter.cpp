#include "imaging/LabelPainter.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace imaging {

namespace {

QColor colourOf(quint32 bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// Draws a text label in image pixels. The box around the text (advance and
// ink, ascent to descent) starts at the label's position and is moved back
// inside the image where it would cross the right or bottom edge, so that no
// value is cut off; a box larger than the image starts at its left or top.
void paintText(QPainter& painter, const Label& label, QSize image) {
    QFont font;
    font.setPixelSize(std::max(1, label.size));
    const QFontMetricsF metrics(font);
    const QRectF ink = metrics.boundingRect(label.text);
    const double left = std::min(0.0, ink.left());
    const double right = std::max(metrics.horizontalAdvance(label.text), ink.right());
    const double top = std::min(-metrics.ascent(), ink.top());
    const double bottom = std::max(metrics.descent(), ink.bottom());
    // Top-left corner of the box, first at the label's position.
    double x = label.left;
    double y = label.top;
    x = std::max(0.0, std::min(x, image.width() - (right - left)));
    y = std::max(0.0, std::min(y, image.height() - (bottom - top)));
    painter.setFont(font);
    painter.setPen(colourOf(label.colour));
    painter.drawText(QPointF(x - left, y - top), label.text);
}

} // namespace

ImagePlacement::ImagePlacement(QSize image, double scale, QPoint origin)
    : m_image(image), m_scale(scale), m_origin(origin) {}

ImagePlacement ImagePlacement::fitted(QSize image, QSize surface) {
    if (image.isEmpty() || surface.isEmpty()) {
        return {image, 1.0, QPoint()};
    }
    const double scale = std::min(static_cast<double>(surface.width()) / image.width(),
                                  static_cast<double>(surface.height()) / image.height());
    // Whole pixels, so that every surface pixel shows one image pixel.
    const auto centred = [scale](int surfaceLength, int imageLength) {
        return std::max(0, static_cast<int>(std::floor((surfaceLength - imageLength * scale) / 2)));
    };
    return {
        image, scale,
        QPoint(centred(surface.width(), image.width()), centred(surface.height(), image.height()))};
}

int ImagePlacement::imageIndexAt(int surface, int origin) const {
    return static_cast<int>(std::floor((surface + 0.5 - origin) / m_scale));
}

int ImagePlacement::surfaceIndexOf(int image, int origin) const {
    // Far outside any surface, kept within int.
    const double centre = std::clamp(origin + (image + 0.5) * m_scale, -1e9, 1e9);
    return static_cast<int>(std::ceil(centre)) - 1;
}

int ImagePlacement::surfaceCount(int imageCount, int origin) const {
    int count = std::max(0, static_cast<int>(std::ceil(imageCount * m_scale - 0.5)));
    // The formula may be one off where rounding meets a pixel border: the
    // mapping of the pixels themselves decides.
    while (count > 0 && imageIndexAt(origin + count - 1, origin) >= imageCount) {
        --count;
    }
    while (imageIndexAt(origin + count, origin) < imageCount) {
        ++count;
    }
    return count;
}

QPoint ImagePlacement::imagePixelAt(QPoint surfacePixel) const {
    return {imageIndexAt(surfacePixel.x(), m_origin.x()),
            imageIndexAt(surfacePixel.y(), m_origin.y())};
}

QPoint ImagePlacement::surfacePixelOf(QPoint imagePixel) const {
    return {surfaceIndexOf(imagePixel.x(), m_origin.x()),
            surfaceIndexOf(imagePixel.y(), m_origin.y())};
}

QRect ImagePlacement::surfaceRect() const {
    if (m_image.isEmpty()) {
        return {};
    }
    return {m_origin, QSize(surfaceCount(m_image.width(), m_origin.x()),
                            surfaceCount(m_image.height(), m_origin.y()))};
}

void paintLabels(QPainter& painter, const LabelList& labels, const ImagePlacement& placement) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipRect(placement.surfaceRect(), Qt::IntersectClip);
    const QTransform imageToSurface(placement.scale(), 0, 0, placement.scale(),
                                    placement.origin().x(), placement.origin().y());
    for (int i = 1; i <= labels.count(); ++i) {
        const Label& label = labels.item(i);
        if (label.kind == Label::Line) {
            // One surface pixel wide, from the pixel that shows the start row
            // to the one that shows the clicked row, both included.
            const QPoint from = placement.surfacePixelOf(QPoint(label.left, label.top));
            const QPoint to =
                placement.surfacePixelOf(QPoint(label.left, label.top + label.height));
            painter.fillRect(QRect(QPoint(from.x(), std::min(from.y(), to.y())),
                                   QPoint(from.x(), std::max(from.y(), to.y()))),
                             colourOf(label.colour));
        } else if (label.kind == Label::Text) {
            // Texts scale with the image, as the copy shows them.
            painter.save();
            painter.setTransform(imageToSurface, true);
            paintText(painter, label, placement.imageSize());
            painter.restore();
        }
    }
    painter.restore();
}

void paintLabels(QPainter& painter, const LabelList& labels, QSize imageSize) {
    paintLabels(painter, labels, ImagePlacement(imageSize, 1.0, QPoint()));
}

} // namespace imaging
