#pragma once

#include "Imaging.h"

#include <QPointF>
#include <QWidget>

#include <optional>

namespace imaging {

// The viewer: shows image 1 of its collection scaled to fit with its aspect
// ratio kept, draws its labels, and reports mouse presses in image pixel
// coordinates.
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

    // Where an image pixel lies in the widget, and back (rounded down).
    QPointF imageToWidget(QPointF imagePoint) const;
    QPoint widgetToImage(QPointF widgetPoint) const;

Q_SIGNALS:
    // buttons: 1 left, 2 right, 4 middle (bit set); shift: 1 shift, 2 ctrl, 4 alt.
    void viewerMouseEvent(int buttons, int shift, int x, int y);
    // The collection or the labels of an image changed.
    void imagesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    ImageCollection m_images;
    QString m_tag;
    std::optional<int> m_startLine;
};

} // namespace imaging
