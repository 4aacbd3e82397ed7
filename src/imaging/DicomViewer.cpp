#include "imaging/DicomViewer.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <array>
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

// Each picture pixel shows the image pixel under its centre, the one a click
// there measures, whether the image is enlarged or shrunk. pixelAt(line, i)
// gives pixel i of an image line as the widget's format holds it.
template <typename PixelAt>
void fillPicture(const QImage& source, const ImagePlacement& placement, QImage& picture,
                 PixelAt pixelAt) {
    const QRect target = placement.surfaceRect();
    std::vector<int> columns(static_cast<std::size_t>(target.width()));
    for (int i = 0; i < target.width(); ++i) {
        columns[static_cast<std::size_t>(i)] = std::clamp(
            placement.imagePixelAt(QPoint(target.left() + i, 0)).x(), 0, source.width() - 1);
    }
    int previous = -1;
    for (int j = 0; j < target.height(); ++j) {
        const int row = std::clamp(placement.imagePixelAt(QPoint(0, target.top() + j)).y(), 0,
                                   source.height() - 1);
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(j));
        if (row == previous) {
            std::memcpy(line, picture.constScanLine(j - 1),
                        static_cast<std::size_t>(target.width()) * sizeof(QRgb));
            continue;
        }
        const uchar* from = source.constScanLine(row);
        std::transform(columns.begin(), columns.end(), line,
                       [&](int column) { return pixelAt(from, column); });
        previous = row;
    }
}

// Grey values as opaque widget pixels.
const std::array<QRgb, 256>& greyPixels() {
    static const std::array<QRgb, 256> pixels = [] {
        std::array<QRgb, 256> table{};
        for (uint i = 0; i < table.size(); ++i) {
            table[i] = qRgb(int(i), int(i), int(i));
        }
        return table;
    }();
    return pixels;
}

// Runs paint once for each rectangle of region, clipped to it. Under a clip
// of one rectangle Qt fills and copies straight into the widget; under a
// clip of several (the start-line box covers a corner of the viewer) it
// goes span by span on its worker threads, which wait their turn on a busy
// machine.
template <typename Paint> void perRectangle(QPainter& painter, const QRegion& region, Paint paint) {
    for (const QRect& area : region) {
        painter.setClipRect(area);
        paint();
    }
    painter.setClipping(false);
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
    m_pictureFrom = shown.cacheKey();
    m_pictureScale = placement.scale();
    // In the widget's own format, so painting it is a plain copy; the kept
    // buffer is refilled while its size stays.
    const QSize size = placement.surfaceRect().size();
    if (m_picture.size() != size) {
        m_picture = QImage(size, QImage::Format_RGB32);
    }
    if (m_picture.isNull()) {
        // No room in the widget, or no memory for the picture: nothing to show.
        return m_picture;
    }
    if (shown.format() == QImage::Format_Grayscale8) {
        const std::array<QRgb, 256>& grey = greyPixels();
        fillPicture(shown, placement, m_picture,
                    [&grey](const uchar* line, int i) { return grey[line[i]]; });
    } else if (const QImage colour = shown.convertToFormat(QImage::Format_RGB32);
               !colour.isNull()) {
        fillPicture(colour, placement, m_picture, [](const uchar* line, int i) {
            return reinterpret_cast<const QRgb*>(line)[i];
        });
    } else {
        m_picture = QImage();
    }
    return m_picture;
}

QPoint DicomViewer::pictureCorner(const ImagePlacement& placement) {
    return placement.surfaceRect().topLeft();
}

void DicomViewer::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    perRectangle(painter, event->region(), [&] { painter.fillRect(rect(), Qt::black); });
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
        const QImage& kept = picture(pixels, shown);
        perRectangle(painter, event->region(),
                     [&] { painter.drawImage(pictureCorner(shown), kept); });
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
