#include "imaging/DicomViewer.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace imaging {

namespace {

QSize imageSizeOf(const ImageCollection& images) {
    if (images.count() == 0) {
        return {};
    }
    const Image& image = images.item(1);
    return {image.width(), image.height()};
}

} // namespace

DicomViewer::DicomViewer(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_images.setChangeNotifier([this] {
        update();
        Q_EMIT imagesChanged();
    });
}

void DicomViewer::setStartLine(std::optional<int> row) {
    m_startLine = row;
    update();
}

ImagePlacement DicomViewer::placement() const {
    return ImagePlacement::fitted(imageSizeOf(m_images), size());
}

const QImage& DicomViewer::picture(const QImage& shown, const ImagePlacement& placement) {
    // Placed at a whole-pixel origin, the picture depends on the scale alone.
    if (shown.cacheKey() == m_pictureFrom && placement.scale() == m_pictureScale) {
        return m_picture;
    }
    m_picture =
        placement.scale() >= 1.0 ? scaledUp(shown, placement) : scaledDown(shown, placement);
    m_pictureFrom = shown.cacheKey();
    m_pictureScale = placement.scale();
    return m_picture;
}

QPoint DicomViewer::pictureCorner(const ImagePlacement& placement) {
    if (placement.scale() >= 1.0) {
        return placement.surfaceRect().topLeft();
    }
    return QRectF(placement.origin(), QSizeF(placement.imageSize()) * placement.scale())
        .toAlignedRect()
        .topLeft();
}

QImage DicomViewer::scaledUp(const QImage& shown, const ImagePlacement& placement) {
    const QRect target = placement.surfaceRect();
    // In the widget's own format, so painting it is a plain copy.
    const QImage source = shown.convertToFormat(QImage::Format_RGB32);
    QImage scaled(target.size(), QImage::Format_RGB32);
    if (source.isNull() || scaled.isNull()) {
        // No room in the widget, or no memory for the picture: nothing to show.
        return {};
    }
    const int lastColumn = source.width() - 1;
    const int lastRow = source.height() - 1;
    std::vector<int> columns(static_cast<std::size_t>(target.width()));
    for (int i = 0; i < target.width(); ++i) {
        const int column = placement.imagePixelAt(QPoint(target.left() + i, 0)).x();
        columns[static_cast<std::size_t>(i)] = std::clamp(column, 0, lastColumn);
    }
    int previous = -1;
    for (int j = 0; j < target.height(); ++j) {
        const int row =
            std::clamp(placement.imagePixelAt(QPoint(0, target.top() + j)).y(), 0, lastRow);
        auto* line = reinterpret_cast<QRgb*>(scaled.scanLine(j));
        if (row == previous) {
            std::memcpy(line, scaled.constScanLine(j - 1),
                        static_cast<std::size_t>(target.width()) * sizeof(QRgb));
            continue;
        }
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(row));
        std::transform(columns.begin(), columns.end(), line, [from](int i) { return from[i]; });
        previous = row;
    }
    return scaled;
}

QImage DicomViewer::scaledDown(const QImage& shown, const ImagePlacement& placement) {
    const QRectF area(placement.origin(), QSizeF(placement.imageSize()) * placement.scale());
    const QRect bounds = area.toAlignedRect();
    QImage scaled(bounds.size(), QImage::Format_RGB32);
    if (scaled.isNull()) {
        return {};
    }
    // Painted as on the black widget, shifted to the picture's corner.
    scaled.fill(Qt::black);
    QPainter painter(&scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(QTransform(placement.scale(), 0, 0, placement.scale(),
                                    area.left() - bounds.left(), area.top() - bounds.top()));
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(placement.imageSize())),
                      shown.convertToFormat(QImage::Format_RGB32));
    return scaled;
}

void DicomViewer::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_images.count() == 0) {
        return;
    }
    const Image& image = m_images.item(1);
    const ImagePlacement shown = placement();
    if (shown.imageSize().isEmpty()) {
        return;
    }
    const QImage pixels = image.displayImage();
    if (!pixels.isNull()) {
        // Scaled once per picture and size; labels and lines are repainted over it.
        painter.drawImage(pictureCorner(shown), picture(pixels, shown));
    }
    if (m_startLine) {
        // Yellow, dashed and one widget pixel high, on the widget row that
        // shows the start row: apart from the red measurements it starts,
        // and visible on grey and black alike.
        const QRect area = shown.surfaceRect();
        const int row = shown.surfacePixelOf(QPoint(0, *m_startLine)).y();
        if (row >= area.top() && row <= area.bottom()) {
            constexpr int dash = 6;
            constexpr int gap = 3;
            for (int x = area.left(); x <= area.right(); x += dash + gap) {
                painter.fillRect(QRect(x, row, std::min(dash, area.right() + 1 - x), 1),
                                 QColor(255, 220, 0));
            }
        }
    }
    // The measurements over it, each in full.
    paintLabels(painter, image.labels(), shown);
}

void DicomViewer::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButtons pressed = event->buttons() | event->button();
    int buttons = 0;
    if (pressed & Qt::LeftButton) {
        buttons |= 1;
    }
    if (pressed & Qt::RightButton) {
        buttons |= 2;
    }
    if (pressed & Qt::MiddleButton) {
        buttons |= 4;
    }
    int shift = 0;
    if (event->modifiers() & Qt::ShiftModifier) {
        shift |= 1;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        shift |= 2;
    }
    if (event->modifiers() & Qt::AltModifier) {
        shift |= 4;
    }
    // Positions are pixel corners; the pixel's centre names the image pixel.
    const QPointF at = event->position();
    const QPoint point = placement().imagePixelAt(
        QPoint(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))));
    Q_EMIT viewerMouseEvent(buttons, shift, point.x(), point.y());
}

} // namespace imaging
