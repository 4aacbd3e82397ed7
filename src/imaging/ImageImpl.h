#pragma once

// Internals shared by the sources of the imaging boundary. This header pulls
// in DCMTK and must not be included outside src/imaging.

#include "imaging/Image.h"
#include "imaging/ImagingError.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/ofstd/offname.h>

#include <functional>

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

// Causes for messages, in German: "die Datei ist beschädigt oder
// abgeschnitten", "nicht genug Arbeitsspeicher", and the cause of a failed
// toolkit or file-system operation (no permission, disk full, read-only
// medium, file in use, missing file ...), the original text only where no
// German cause fits.
QString damagedCause();
QString memoryCause();
QString causeOf(const OFCondition& status);

OFFilename toFilename(const QString& path);
// A path as the operator reads it in a message: native separators, in quotes.
QString quoted(const QString& path);

// Decodes a text value as the data set holds it (UTF-8 after loading; a
// value that is not valid UTF-8 is taken as Latin-1 rather than mangled).
QString fromDicomText(const OFString& text);

// Sets a text value, replacing an existing one. A value with non-ASCII
// characters switches the data set to UTF-8 ("ISO_IR 192").
void putText(DcmDataset& dataset, const DcmTag& tag, const QString& value);

// A deflated data set is refused when it inflates to more than this.
inline constexpr qint64 kMaxInflatedBytes = qint64{256} << 20;

// The bytes a data set read from path can hold: the file's size, or the
// inflated bound for a deflated one.
qint64 dataSetLimit(DcmDataset& dataset, const QString& path);

// Runs action; a std::bad_alloc becomes an ImagingError naming path.
void guarded(const QString& path, const std::function<void()>& action);

// How much of a file loadFile reads: all of it, the attributes before the
// pixel data, or those up to and including the Patient ID.
enum class Extent { Whole, Header, UpToImageNumber };

// Reads a file into format, converting its text values to UTF-8. Throws
// ImagingError.
void loadFile(DcmFileFormat& format, const QString& path, Extent extent);

// Why the pixel data cannot be given to a decoder safely (a German cause),
// or empty when they can: sizes, frame counts, fragment lengths against
// limit (the bytes the data set can hold) and the RLE and JPEG headers.
QString pixelDataFault(DcmDataset& dataset, qint64 limit);

// Refuses a deflated file whose data set inflates to more than limit bytes,
// counting as it inflates rather than holding the data set in memory.
void checkInflatedSize(const QString& path, qint64 limit);

// False when the file's first bytes hold meta information complete enough to
// show that its data set is not deflated; checkInflatedSize is then not
// needed. Cheaper than that check: no toolkit file stream is opened.
bool mayBeDeflated(const QString& path);

// Frame 1 as 8-bit grey or RGB; on failure a null image and a German cause.
QImage renderFrame(DcmDataset& dataset, QString* cause);

bool isJpeg2000(DcmDataset& dataset);
// Gives a JPEG 2000 data set native pixels, all frames decoded; any other
// data set stays as it is. Returns a German cause when a stream does not
// decode, else an empty text.
QString decodeJpeg2000(DcmDataset& dataset);
// Fills the empty firstFrame with the attributes of a JPEG 2000 data set and
// frame 1 decoded to native pixels; returns a German cause or an empty text.
QString decodeJpeg2000FirstFrame(DcmDataset& dataset, DcmDataset& firstFrame);

// Inserts, empty, every Type 1 and Type 2 attribute of the Secondary Capture
// modules that the data set lacks; existing values stay.
void completeSecondaryCapture(DcmDataset& dataset);

QString newUid();

} // namespace detail
} // namespace imaging
