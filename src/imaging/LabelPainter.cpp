#include "LabelPainter.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace imaging {

namespace {

QColor colourOf(quint32 bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

} // namespace

void paintLabels(QPainter& painter, const LabelList& labels) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 1; i <= labels.count(); ++i) {
        const Label& label = labels.item(i);
        const QColor colour = colourOf(label.colour);
        if (label.kind == Label::Line) {
            // A cosmetic pen stays one screen pixel wide at any zoom; the
            // half-pixel offset puts the line on the pixel column it names.
            painter.setPen(QPen(colour, 0));
            const double x = label.left + 0.5;
            painter.drawLine(QPointF(x, label.top + 0.5),
                             QPointF(x, label.top + label.height + 0.5));
        } else if (label.kind == Label::Text) {
            QFont font = painter.font();
            font.setPixelSize(std::max(1, label.size));
            painter.setFont(font);
            painter.setPen(colour);
            // (left, top) is the top-left corner of the text.
            const double ascent = QFontMetricsF(font).ascent();
            painter.drawText(QPointF(label.left, label.top + ascent), label.text);
        }
    }
    painter.restore();
}

} // namespace imaging
