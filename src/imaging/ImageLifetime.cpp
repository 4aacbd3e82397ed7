// Copying and moving images, and the repaint they ask of their collection.

#include "ImageImpl.h"

namespace imaging {

Image::Image() : d(std::make_unique<Impl>()) {}

Image::~Image() = default;

Image::Image(const Image& other) : d(std::make_unique<Impl>(*other.d)), m_labels(other.m_labels) {}

Image& Image::operator=(const Image& other) {
    if (this != &other) {
        d = std::make_unique<Impl>(*other.d);
        m_labels = other.m_labels;
        refreshLabels(false);
    }
    return *this;
}

// A moved image keeps its place in a collection (m_refresh) but hands over
// its content; the moved-from image may only be assigned to or destroyed.
Image::Image(Image&& other) noexcept : d(std::move(other.d)), m_labels(std::move(other.m_labels)) {}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        d = std::move(other.d);
        m_labels = std::move(other.m_labels);
        if (m_refresh) {
            m_refresh();
        }
    }
    return *this;
}

void Image::refreshLabels(bool /*flag: both values repaint*/) {
    if (m_refresh) {
        m_refresh();
    }
}

} // namespace imaging
