#pragma once

// Internals shared by the sources of the imaging boundary. This header pulls
// in DCMTK and must not be included outside src/imaging.

#include "Imaging.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/ofstd/offname.h>

namespace imaging {

struct Image::Impl {
    DcmFileFormat file;
    // Frame 1 rendered for display; rendered tells whether the attempt was
    // made, so an undecodable image is not decoded again on every paint.
    mutable QImage display;
    mutable bool rendered = false;

    DcmDataset& dataset() { return *file.getDataset(); }
    const DcmDataset& dataset() const { return *const_cast<DcmFileFormat&>(file).getDataset(); }
    void invalidateDisplay() {
        display = QImage();
        rendered = false;
    }
};

namespace detail {

OFFilename toFilename(const QString& path);
// A path as the operator reads it in a message: native separators, in quotes.
QString quoted(const QString& path);

// Decodes a text value as the data set holds it (UTF-8 after loading; a
// value that is not valid UTF-8 is taken as Latin-1 rather than mangled).
QString fromDicomText(const OFString& text);

// Sets a text value, replacing an existing one. A value with non-ASCII
// characters switches the data set to UTF-8 ("ISO_IR 192").
void putText(DcmDataset& dataset, const DcmTag& tag, const QString& value);

// Reads a file into format, converting its text values to UTF-8. With
// headerOnly the read stops before the pixel data. Throws ImagingError.
void loadFile(DcmFileFormat& format, const QString& path, bool headerOnly);

// Frame 1 as 8-bit grey or RGB; on failure a null image and a German cause.
QImage renderFrame(DcmDataset& dataset, QString* cause);

// Gives a JPEG 2000 data set native pixels, all frames decoded; any other
// data set stays as it is. Throws ImagingError naming path for a corrupt stream.
void decodeJpeg2000(DcmDataset& dataset, const QString& path);

// Inserts, empty, every Type 1 and Type 2 attribute of the Secondary Capture
// modules that the data set lacks; existing values stay.
void completeSecondaryCapture(DcmDataset& dataset);

QString newUid();

} // namespace detail
} // namespace imaging
