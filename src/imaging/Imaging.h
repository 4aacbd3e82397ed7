#pragma once

// The DICOM imaging boundary: image collections, images, attributes, labels
// and the UID generator. No DCMTK type appears in this header.

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include "core/Error.h"

#include <functional>
#include <memory>

namespace imaging {

// Every failing imaging operation throws this; what() is a German message
// (UTF-8) naming the file and the cause.
class ImagingError : public core::Error {
public:
    explicit ImagingError(const QString& message);
};

// The Derivation Description of the measured copies saveImage makes.
inline const QString kMeasuredCopyDerivation =
    QStringLiteral("Messlinien und Messwerte eingebrannt");

// Registers the decoders and silences the toolkit's console logging. Safe to
// call more than once; every entry point calls it.
void initialise();

class Image;

// The value of one attribute. A null attribute (absent from the image) is
// distinguishable from one that is present with an empty value.
class Attribute {
public:
    Attribute() = default;
    Attribute(bool present, const QStringList& values);
    bool isNull() const { return !m_present; }
    // All values joined by "\" (empty when null).
    QString value() const;
    // Value number k, 1-based; empty when there is no such value.
    QString valueNumber(int k) const;
    int valueCount() const { return static_cast<int>(m_values.size()); }

private:
    bool m_present = false;
    QStringList m_values;
};

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
    // 8-bit RGB, a new SOP Instance UID, DERIVED\SECONDARY.
    Image saveImage(bool flag) const;

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

class UidGenerator {
public:
    // "2.25." + a fresh random 128-bit UUID as a decimal number.
    QString newUid();
};

// Reads a file's attributes up to its pixel data, which stays unread, for
// looking its properties up quickly; the image has nothing to display.
// Throws for a file that is not DICOM.
Image readHeader(const QString& path);

// A file's image number (Patient ID), read as readHeader reads.
QString readImageNumber(const QString& path);

} // namespace imaging
