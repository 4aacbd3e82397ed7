#pragma once

#include "imaging/ImageCollection.h"
#include "imaging/LabelPainter.h"

#include <QImage>
#include <QWidget>

#include <optional>

namespace imaging {

// The viewer: shows image 1 of its collection scaled to fit with its aspect
// ratio kept, draws its labels, and reports mouse presses as the image pixel
// under the centre of the pressed widget pixel (outside the image too).
class DicomViewer : public QWidget {
    Q_OBJECT
public:
    explicit DicomViewer(QWidget* parent = nullptr);

    ImageCollection& images() { return m_images; }
    const ImageCollection& images() const { return m_images; }

    QString tag() const { return m_tag; }
    void setTag(const QString& tag) { m_tag = tag; }

    // The start line, an image row, drawn dashed across the shown image; it
    // belongs to the viewer alone and never reaches a saved copy.
    std::optional<int> startLine() const { return m_startLine; }
    void setStartLine(std::optional<int> row);

    // Where image 1 lies in the widget now: which image pixel each widget
    // pixel shows, and the reverse.
    ImagePlacement placement() const;

Q_SIGNALS:
    // buttons: 1 left, 2 right, 4 middle (bit set); shift: 1 shift, 2 ctrl, 4 alt.
    void viewerMouseEvent(int buttons, int shift, int x, int y);
    // The collection or the labels of an image changed.
    void imagesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
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
};

} // namespace imaging
