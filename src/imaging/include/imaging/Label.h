#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace imaging {

class Image;

// An annotation drawn over an image: kind 0 is a text, kind 3 a straight
// vertical line from (left, top) over height. Coordinates are image pixels.
class Label {
public:
    enum Kind { Text = 0, Line = 3 };

    int kind = Text;
    int left = 0;
    int top = 0;
    int height = 0;
    QString text;
    quint32 colour = 0; // 0x00BBGGRR
    int size = 12;      // text height in image pixels
    bool switch1 = false;
    bool switch2 = false;

    // Binds the label to an image: its calibration decides the measured length.
    void bindToImage(const Image& image);
    // |height| in millimetres from the first Pixel Spacing value, else from an
    // ultrasound region in cm holding both ends, else in pixels.
    double measuredLength() const;
    // "mm" or "px": always two characters.
    QString unitText() const;

private:
    // Row spacing in mm per pixel, 0 when the bound image has no calibration
    // for this line.
    double m_mmPerPixel = 0.0;
};

class LabelList {
public:
    int count() const { return static_cast<int>(m_labels.size()); }
    const Label& item(int position) const; // 1-based; throws when out of range
    void add(const Label& label);
    void remove(int position); // 1-based; throws when out of range
    void clear() { m_labels.clear(); }

private:
    QList<Label> m_labels;
};

} // namespace imaging
