#pragma once

#include "imaging/Image.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace imaging {

class ImageCollection {
public:
    int count() const { return static_cast<int>(m_images.size()); }
    void clear();
    // Reads a DICOM file and appends its image.
    void readFile(const QString& path);
    Image& item(int position); // 1-based; throws when out of range
    const Image& item(int position) const;
    void add(const Image& image);
    // Called after every change of the collection or of an image's labels.
    void setChangeNotifier(std::function<void()> notify);

private:
    void attach(Image& image);
    QList<std::shared_ptr<Image>> m_images;
    std::function<void()> m_notify;
};

} // namespace imaging
