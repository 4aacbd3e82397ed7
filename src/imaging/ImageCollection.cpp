#include "imaging/ImageCollection.h"

#include "imaging/ImagingError.h"

#include <utility>

namespace imaging {

void ImageCollection::clear() {
    m_images.clear();
    if (m_notify) {
        m_notify();
    }
}

Image& ImageCollection::item(int position) {
    return const_cast<Image&>(std::as_const(*this).item(position));
}

const Image& ImageCollection::item(int position) const {
    if (position < 1 || position > m_images.size()) {
        throw ImagingError(QStringLiteral("Das Bild Nr. %1 gibt es nicht (%2 vorhanden).")
                               .arg(position)
                               .arg(m_images.size()));
    }
    return *m_images.at(position - 1);
}

void ImageCollection::add(const Image& image) {
    auto copy = std::make_shared<Image>(image);
    attach(*copy);
    m_images.append(std::move(copy));
    if (m_notify) {
        m_notify();
    }
}

void ImageCollection::setChangeNotifier(std::function<void()> notify) {
    m_notify = std::move(notify);
    for (const auto& image : std::as_const(m_images)) {
        attach(*image);
    }
}

void ImageCollection::attach(Image& image) {
    image.m_refresh = m_notify;
}

} // namespace imaging
