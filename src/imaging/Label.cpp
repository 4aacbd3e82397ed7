#include "imaging/Label.h"

#include "imaging/Image.h"
#include "imaging/ImagingError.h"

#include <cmath>

namespace imaging {

void Label::bindToImage(const Image& image) {
    m_mmPerPixel = image.mmPerPixel(left, top, top + height);
}

double Label::measuredLength() const {
    const double pixels = std::abs(static_cast<double>(height));
    return m_mmPerPixel > 0.0 ? pixels * m_mmPerPixel : pixels;
}

QString Label::unitText() const {
    return m_mmPerPixel > 0.0 ? QStringLiteral("mm") : QStringLiteral("px");
}

const Label& LabelList::item(int position) const {
    if (position < 1 || position > m_labels.size()) {
        throw ImagingError(QStringLiteral("Die Beschriftung Nr. %1 gibt es nicht (%2 vorhanden).")
                               .arg(position)
                               .arg(m_labels.size()));
    }
    return m_labels.at(position - 1);
}

void LabelList::add(const Label& label) {
    m_labels.append(label);
}

void LabelList::remove(int position) {
    item(position);
    m_labels.removeAt(position - 1);
}

} // namespace imaging
