#pragma once

#include "imaging/Attribute.h"
#include "imaging/ImagingError.h"
#include "imaging/Label.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

namespace imaging {

// One DICOM image with its data set.
class Image {
public:
    Image();
    ~Image();
    Image(const Image& other);
    Image& operator=(const Image& other);
    Image(Image&&) noexcept;
    Image& operator=(Image&&) noexcept;

    // Replaces this image by the bitmap at path; format must be "BMP".
    void importBitmap(const QString& path, const QString& format);

    // Properties as texts (UTF-8 in, UTF-8 out).
    QString imageNumber() const; // Patient ID (0010,0020)
    void setImageNumber(const QString& value);
    QString patientName() const; // (0010,0010)
    void setPatientName(const QString& value);
    QString birthDate() const; // (0010,0030)
    void setBirthDate(const QString& value);
    QString sex() const; // (0010,0040)
    void setSex(const QString& value);
    QString studyUid() const; // (0020,000D)
    void setStudyUid(const QString& value);
    QString seriesUid() const; // (0020,000E)
    void setSeriesUid(const QString& value);
    QString imageUid() const; // SOP Instance UID (0008,0018)
    void setImageUid(const QString& value);
    // The SOP Instance UID named by the first Source Image Sequence item: the
    // image a derived copy was made from.
    QString sourceImageUid() const;

    Attribute attribute(quint16 group, quint16 element) const;
    // Adds the attribute or replaces its value ("\" separates values).
    void addAttribute(quint16 group, quint16 element, const QString& value);

    int width() const;
    int height() const;

    // Frame 1 rendered for display: 8-bit grey or RGB, windowed with the
    // file's VOI window when present, else min-max. Cached.
    QImage displayImage() const;

    LabelList& labels() { return m_labels; }
    const LabelList& labels() const { return m_labels; }
    // Asks the viewer that shows this image to repaint its labels.
    void refreshLabels(bool flag);

    // The derived copy: the displayed pixels with the labels burned in,
    // 8-bit RGB, a new SOP Instance UID, DERIVED\SECONDARY, and
    // derivationDescription as its Derivation Description.
    Image saveImage(bool flag, const QString& derivationDescription) const;

    // Writes a DICOM file with file meta information, Explicit VR Little
    // Endian, through a temporary file in the target folder that replaces
    // the target only when complete.
    void write(const QString& path, bool flag) const;

    // Calibration of a vertical line from (x, y1) to (x, y2): mm per pixel,
    // or 0 when the image has none for it.
    double mmPerPixel(int x, int y1, int y2) const;

    struct Impl;

private:
    friend class ImageCollection;
    friend Image readHeader(const QString& path);
    std::unique_ptr<Impl> d;
    LabelList m_labels;
    std::function<void()> m_refresh;
};

// Reads a file's attributes up to its pixel data, which stays unread, for
// looking its properties up quickly; the image has nothing to display.
// Throws for a file that is not DICOM.
Image readHeader(const QString& path);

// A file's image number (Patient ID). The read stops right after it; a file
// readHeader refuses for what lies before it is refused alike.
QString readImageNumber(const QString& path);

} // namespace imaging
