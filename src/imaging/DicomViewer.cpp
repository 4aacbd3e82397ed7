#include "DicomViewer.h"

#include "LabelPainter.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace imaging {

namespace {

// Where image 1 lies in a widget of the given size: scale and top-left
// corner of the image scaled to fit with its aspect ratio kept, centred.
struct Placement {
    double scale = 1.0;
    QPointF origin;
};

Placement placementFor(const QSize& widget, const QSize& image) {
    if (image.isEmpty() || widget.isEmpty()) {
        return {};
    }
    const double scale = std::min(static_cast<double>(widget.width()) / image.width(),
                                  static_cast<double>(widget.height()) / image.height());
    return {scale, QPointF((widget.width() - image.width() * scale) / 2.0,
                           (widget.height() - image.height() * scale) / 2.0)};
}

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

QPointF DicomViewer::imageToWidget(QPointF imagePoint) const {
    const Placement placement = placementFor(size(), imageSizeOf(m_images));
    return placement.origin + imagePoint * placement.scale;
}

QPoint DicomViewer::widgetToImage(QPointF widgetPoint) const {
    const Placement placement = placementFor(size(), imageSizeOf(m_images));
    const QPointF point = (widgetPoint - placement.origin) / placement.scale;
    return {static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y()))};
}

void DicomViewer::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_images.count() == 0) {
        return;
    }
    const Image& image = m_images.item(1);
    const QImage shown = image.displayImage();
    const QSize imageSize(image.width(), image.height());
    const Placement placement = placementFor(size(), imageSize);
    if (imageSize.isEmpty()) {
        return;
    }
    painter.setTransform(QTransform(placement.scale, 0, 0, placement.scale, placement.origin.x(),
                                    placement.origin.y()));
    if (!shown.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, placement.scale < 1.0);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(imageSize)), shown);
    }
    paintLabels(painter, image.labels());
    if (m_startLine) {
        // Yellow, dashed and one screen pixel wide: apart from the red
        // measurements it starts, and visible on grey and black alike.
        QPen pen(QColor(255, 220, 0), 0, Qt::DashLine);
        painter.setPen(pen);
        const double y = *m_startLine + 0.5;
        // An aliased line also paints its end pixel, one screen pixel right
        // of the image: a clip two screen pixels high keeps the line to the
        // image's columns.
        const double band = 1.0 / placement.scale;
        painter.setClipRect(QRectF(0, y - band, imageSize.width(), 2 * band));
        painter.drawLine(QPointF(0, y), QPointF(imageSize.width(), y));
    }
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
    const QPoint point = widgetToImage(event->position());
    Q_EMIT viewerMouseEvent(buttons, shift, point.x(), point.y());
}

} // namespace imaging
