#include "imaging/DicomViewer.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
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

// Light blue: apart from the red measurements and the yellow start line.
const QColor kGuideColour(0, 200, 255);
const QColor kStartLineColour(255, 220, 0);
const QColor kMeasurementColour(255, 0, 0);
// Between the pointer and the loupe or the length text.
constexpr int kLoupeOffset = 24;
constexpr int kTextOffset = 16;

// Widget pixel under a pointer position (positions are pixel corners).
QPoint pixelUnder(const QPointF& at) {
    return {static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y()))};
}

// Yellow dashes one pixel high on widget row y from left to right.
void paintDashes(QPainter& painter, int left, int right, int y) {
    constexpr int dash = 6;
    constexpr int gap = 3;
    for (int x = left; x <= right; x += dash + gap) {
        painter.fillRect(QRect(x, y, std::min(dash, right + 1 - x), 1), kStartLineColour);
    }
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
    setMouseTracking(true);
    // Shift goes to whichever control has the focus; the viewer listens for it everywhere.
    qApp->installEventFilter(this);
    m_images.setChangeNotifier([this] {
        if (m_images.count() == 0) {
            m_setAside.clear();
        }
        update();
        refreshOverlays();
        Q_EMIT imagesChanged();
    });
}

void DicomViewer::setTag(const QString& tag) {
    m_tag = tag;
    refreshOverlays();
}

void DicomViewer::setStartLine(std::optional<int> row) {
    m_startLine = row;
    update();
    refreshOverlays();
}

void DicomViewer::setGuideSource(GuideSource source) {
    m_guideSource = std::move(source);
    refreshOverlays();
}

std::optional<MeasurementGuide> DicomViewer::guide() const {
    return m_overlay ? m_overlay->guide : std::nullopt;
}

QRect DicomViewer::loupeRect() const {
    return m_overlay ? m_overlay->loupe : QRect();
}

int DicomViewer::loupeZoom(double scale) {
    // Beyond twenty the loupe would show fewer than eight pixels across.
    return std::max(4, static_cast<int>(std::lround(4.0 * std::min(scale, 5.0))));
}

void DicomViewer::setAside(const QList<Label>& labels) {
    m_setAside.append(labels);
}

QList<Label> DicomViewer::takeBackSetAside() {
    return m_setAside.isEmpty() ? QList<Label>() : m_setAside.takeLast();
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
            paintDashes(painter, area.left(), area.right(), row);
        }
    }
    // The guide under the measurements, so a line just measured shows red at once.
    if (m_overlay && m_overlay->guide) {
        painter.fillRect(m_overlay->guideLine, kGuideColour);
    }
    // The measurements over it, each in full.
    paintLabels(painter, image.labels(), shown);
    if (m_overlay) {
        paintOverlay(painter, *m_overlay, pixels, shown);
    }
}

QFont DicomViewer::guideFont() const {
    QFont font = this->font();
    font.setPixelSize(14);
    font.setBold(true);
    return font;
}

QRegion DicomViewer::PointerOverlay::region() const {
    QRegion covered(guideLine);
    covered += text;
    covered += loupe;
    return covered;
}

std::optional<DicomViewer::PointerOverlay> DicomViewer::overlayAt(QPoint at) const {
    if (m_images.count() == 0) {
        return std::nullopt;
    }
    const ImagePlacement shown = placement();
    const QSize image = shown.imageSize();
    const QPoint pixel = shown.imagePixelAt(at);
    if (image.isEmpty() || !QRect(QPoint(0, 0), image).contains(pixel)) {
        return std::nullopt;
    }
    PointerOverlay overlay{.at = at, .pixel = pixel};
    if (m_guideSource) {
        overlay.guide = m_guideSource(pixel);
    }
    if (m_shiftHeld && !m_images.item(1).displayImage().isNull()) {
        // Up and to the right of the pointer, to the other side near an edge.
        constexpr int outer = kLoupeSize + 2;
        int left = at.x() + kLoupeOffset;
        int top = at.y() - kLoupeOffset - outer;
        if (left + outer > width()) {
            left = at.x() - kLoupeOffset - outer;
        }
        if (top < 0) {
            top = at.y() + kLoupeOffset;
        }
        left = std::clamp(left, 0, std::max(0, width() - outer));
        top = std::clamp(top, 0, std::max(0, height() - outer));
        overlay.loupe = QRect(left, top, outer, outer);
    }
    if (overlay.guide) {
        // The widget pixels the measured line will take.
        const QPoint from =
            shown.surfacePixelOf(QPoint(overlay.guide->column, overlay.guide->fromRow));
        const QPoint to = shown.surfacePixelOf(QPoint(overlay.guide->column, overlay.guide->toRow));
        overlay.guideLine = QRect(QPoint(from.x(), std::min(from.y(), to.y())),
                                  QPoint(from.x(), std::max(from.y(), to.y()))) &
                            rect();
        const QSize box =
            QFontMetrics(guideFont()).size(Qt::TextSingleLine, overlay.guide->text) + QSize(8, 4);
        QPoint corner;
        if (!overlay.loupe.isEmpty()) {
            // At the bottom of the loupe, where the eye already is.
            corner = QPoint(overlay.loupe.center().x() - box.width() / 2,
                            overlay.loupe.bottom() - 2 - box.height());
        } else {
            // Below and to the right of the pointer, to the other side near an edge.
            corner = at + QPoint(kTextOffset, kTextOffset);
            if (corner.x() + box.width() > width()) {
                corner.setX(at.x() - kTextOffset - box.width());
            }
            if (corner.y() + box.height() > height()) {
                corner.setY(at.y() - kTextOffset - box.height());
            }
        }
        overlay.text = QRect(corner, box);
    }
    return overlay;
}

void DicomViewer::refreshOverlays() {
    std::optional<PointerOverlay> next = m_pointer ? overlayAt(*m_pointer) : std::nullopt;
    // Only what the overlay covered before and covers now is painted again.
    QRegion changed;
    if (m_overlay) {
        changed += m_overlay->region();
    }
    if (next) {
        changed += next->region();
    }
    m_overlay = std::move(next);
    if (!changed.isEmpty()) {
        update(changed);
    }
}

void DicomViewer::setPointer(std::optional<QPoint> at) {
    m_pointer = at;
    refreshOverlays();
}

void DicomViewer::paintOverlay(QPainter& painter, const PointerOverlay& overlay,
                               const QImage& pixels, const ImagePlacement& shown) const {
    if (!overlay.loupe.isEmpty() && !pixels.isNull()) {
        paintLoupe(painter, overlay, pixels, shown);
    }
    if (overlay.guide) {
        paintGuideText(painter, overlay);
    }
}

void DicomViewer::paintLoupe(QPainter& painter, const PointerOverlay& overlay, const QImage& pixels,
                             const ImagePlacement& shown) const {
    const QRect inner = overlay.loupe.adjusted(1, 1, -1, -1);
    painter.fillRect(overlay.loupe, QColor(230, 230, 230));
    painter.fillRect(inner, Qt::black);
    const int zoom = loupeZoom(shown.scale());
    // Where the pointer's pixel lies in the loupe, and how many image pixels
    // reach into it before and after that one.
    const int centre = kLoupeSize / 2 - zoom / 2;
    const int before = (centre + zoom - 1) / zoom;
    const int after = (kLoupeSize - centre - 1) / zoom;
    const QPoint first = overlay.pixel - QPoint(before, before);
    const QPoint last = overlay.pixel + QPoint(after, after);
    const auto cornerOf = [&](QPoint pixel) {
        return inner.topLeft() + QPoint(centre, centre) + (pixel - overlay.pixel) * zoom;
    };
    painter.save();
    painter.setClipRect(inner);
    // Nearest neighbour: each image pixel a crisp square.
    const QRect part = QRect(first, last) & pixels.rect();
    if (!part.isEmpty()) {
        painter.drawImage(cornerOf(part.topLeft()),
                          pixels.copy(part).scaled(part.size() * zoom, Qt::IgnoreAspectRatio,
                                                   Qt::FastTransformation));
    }
    // Lines run through the middle of their pixels and leave the pointer's
    // pixel itself in sight.
    const QRect centrePixel(cornerOf(overlay.pixel), QSize(zoom, zoom));
    painter.setClipRegion(QRegion(inner) - QRegion(centrePixel));
    const int middle = zoom / 2;
    const auto column = [&](int x, int fromRow, int toRow, const QColor& colour) {
        if (x < first.x() || x > last.x()) {
            return;
        }
        const int top = std::clamp(std::min(fromRow, toRow), first.y() - 1, last.y() + 1);
        const int bottom = std::clamp(std::max(fromRow, toRow), first.y() - 1, last.y() + 1);
        const QPoint a = cornerOf(QPoint(x, top)) + QPoint(middle, middle);
        const QPoint b = cornerOf(QPoint(x, bottom)) + QPoint(middle, middle);
        painter.fillRect(QRect(a, b), colour);
    };
    if (m_startLine && *m_startLine >= first.y() && *m_startLine <= last.y()) {
        paintDashes(painter, inner.left(), inner.right(),
                    cornerOf(QPoint(first.x(), *m_startLine)).y() + middle);
    }
    if (overlay.guide) {
        column(overlay.guide->column, overlay.guide->fromRow, overlay.guide->toRow, kGuideColour);
    }
    const LabelList& labels = m_images.item(1).labels();
    for (int i = 1; i <= labels.count(); ++i) {
        const Label& label = labels.item(i);
        if (label.kind == Label::Line) {
            column(label.left, label.top,
                   static_cast<int>(std::clamp(qint64{label.top} + label.height,
                                               qint64{first.y()} - 1, qint64{last.y()} + 1)),
                   kMeasurementColour);
        }
    }
    // The crosshair: a frame round the pointer's pixel and ticks towards it.
    painter.setClipRect(inner);
    const QRect frame = centrePixel.adjusted(-1, -1, 1, 1);
    constexpr int tick = 10;
    constexpr int gap = 3;
    const QPoint mid = centrePixel.topLeft() + QPoint(middle, middle);
    for (const QRect& mark : {QRect(frame.left(), frame.top(), frame.width(), 1),
                              QRect(frame.left(), frame.bottom(), frame.width(), 1),
                              QRect(frame.left(), frame.top(), 1, frame.height()),
                              QRect(frame.right(), frame.top(), 1, frame.height()),
                              QRect(frame.left() - gap - tick, mid.y(), tick, 1),
                              QRect(frame.right() + gap + 1, mid.y(), tick, 1),
                              QRect(mid.x(), frame.top() - gap - tick, 1, tick),
                              QRect(mid.x(), frame.bottom() + gap + 1, 1, tick)}) {
        painter.fillRect(mark, kGuideColour);
    }
    painter.restore();
}

void DicomViewer::paintGuideText(QPainter& painter, const PointerOverlay& overlay) const {
    painter.save();
    painter.fillRect(overlay.text, QColor(0, 0, 0, 180));
    painter.setFont(guideFont());
    painter.setPen(kGuideColour);
    painter.drawText(overlay.text, Qt::AlignCenter, overlay.guide->text);
    painter.restore();
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
    const QPoint point = placement().imagePixelAt(pixelUnder(event->position()));
    Q_EMIT viewerMouseEvent(buttons, shift, point.x(), point.y());
}

void DicomViewer::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void DicomViewer::mouseMoveEvent(QMouseEvent* event) {
    m_shiftHeld = event->modifiers().testFlag(Qt::ShiftModifier);
    setPointer(pixelUnder(event->position()));
}

void DicomViewer::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setPointer(std::nullopt);
}

void DicomViewer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshOverlays();
}

bool DicomViewer::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Shift) {
        const bool held = event->type() == QEvent::KeyPress;
        if (held != m_shiftHeld) {
            m_shiftHeld = held;
            refreshOverlays();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace imaging
