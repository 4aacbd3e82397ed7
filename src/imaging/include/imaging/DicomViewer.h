#pragma once

#include "imaging/ImageCollection.h"
#include "imaging/LabelPainter.h"

#include <QImage>
#include <QList>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <optional>

namespace imaging {

// The line a left click at the pointer would measure: from the start line to
// the pointer's row at its column, in image pixels, with the length text.
struct MeasurementGuide {
    int column = 0;
    int fromRow = 0;
    int toRow = 0;
    QString text;
};

// The viewer: shows image 1 of its collection scaled to fit with its aspect
// ratio kept, draws its labels, and reports mouse presses as the image pixel
// under the centre of the pressed widget pixel (outside the image too).
// While the pointer is over the image's pixels it draws the guide its guide
// source gives for the pointer's pixel, and with Shift held a loupe: the
// pointer's neighbourhood enlarged, its centre the pointer's pixel. Neither
// is a label; neither reaches a copy.
class DicomViewer : public QWidget {
    Q_OBJECT
public:
    explicit DicomViewer(QWidget* parent = nullptr);

    ImageCollection& images() { return m_images; }
    const ImageCollection& images() const { return m_images; }

    QString tag() const { return m_tag; }
    void setTag(const QString& tag);

    // The start line, an image row, drawn dashed across the shown image; it
    // belongs to the viewer alone and never reaches a saved copy.
    std::optional<int> startLine() const { return m_startLine; }
    void setStartLine(std::optional<int> row);

    // Where image 1 lies in the widget now: which image pixel each widget
    // pixel shows, and the reverse.
    ImagePlacement placement() const;

    // Gives the guide for an image pixel under the pointer, or none. Asked on
    // every pointer move and by refreshOverlays().
    using GuideSource = std::function<std::optional<MeasurementGuide>(QPoint imagePixel)>;
    void setGuideSource(GuideSource source);
    // Asks the guide source again; for changes of what it depends on that
    // the viewer does not see itself (the start-line pick armed).
    void refreshOverlays();
    // The guide drawn now, and the loupe's widget rectangle (empty when hidden).
    std::optional<MeasurementGuide> guide() const;
    QRect loupeRect() const;
    // Widget pixels per image pixel in the loupe: four times the view's
    // enlargement, from four to twenty.
    static int loupeZoom(double scale);
    static constexpr int kLoupeSize = 160; // widget pixels inside its frame

    // Labels taken off the shown image, newest last, that may be put back.
    // Forgotten whenever the collection empties: another image is shown.
    void setAside(const QList<Label>& labels);
    // The newest labels set aside, removed from the list; empty when none.
    QList<Label> takeBackSetAside();
    void forgetSetAside() { m_setAside.clear(); }

Q_SIGNALS:
    // buttons: 1 left, 2 right, 4 middle (bit set); shift: 1 shift, 2 ctrl, 4 alt.
    void viewerMouseEvent(int buttons, int shift, int x, int y);
    // The collection or the labels of an image changed.
    void imagesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The second press of a double click is not a second click.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Shift pressed or released anywhere in the application shows or hides the loupe.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What follows the pointer, in widget pixels.
    struct PointerOverlay {
        QPoint at{};    // the widget pixel under the pointer
        QPoint pixel{}; // the image pixel it shows
        std::optional<MeasurementGuide> guide{};
        QRect guideLine{}; // the guide's widget pixels
        QRect text{};      // the box of the guide's length text
        QRect loupe{};     // with its frame; empty when no loupe is shown
        QRegion region() const;
    };
    std::optional<PointerOverlay> overlayAt(QPoint at) const;
    void setPointer(std::optional<QPoint> at);
    void paintOverlay(QPainter& painter, const PointerOverlay& overlay, const QImage& pixels,
                      const ImagePlacement& shown) const;
    void paintLoupe(QPainter& painter, const PointerOverlay& overlay, const QImage& pixels,
                    const ImagePlacement& shown) const;
    void paintGuideText(QPainter& painter, const PointerOverlay& overlay) const;
    // The font of the guide's length, for its box and its text alike.
    QFont guideFont() const;

    // The picture as the widget shows it, kept while picture and scale stay
    // the same, drawn at pictureCorner().
    const QImage& picture(const QImage& shown, const ImagePlacement& placement);
    static QPoint pictureCorner(const ImagePlacement& placement);

    ImageCollection m_images;
    QString m_tag;
    std::optional<int> m_startLine;
    QImage m_picture;
    qint64 m_pictureFrom = 0;
    double m_pictureScale = 0.0;

    GuideSource m_guideSource;
    std::optional<QPoint> m_pointer;
    bool m_shiftHeld = false;
    std::optional<PointerOverlay> m_overlay;
    QList<QList<Label>> m_setAside;
};

} // namespace imaging
