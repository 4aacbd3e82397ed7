// Reading DICOM files: whole for display, or their header alone.

#include "ImageImpl.h"
#include "imaging/ImageCollection.h"
#include "imaging/ImagingError.h"
#include "imaging/Initialise.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcistrmf.h>

#include <QFile>
#include <QFileInfo>

#include <array>
#include <optional>

namespace imaging {

namespace detail {

namespace {

// A read for the image number stops before the first tag above the Patient ID.
const DcmTagKey kAfterImageNumber(DCM_PatientID.getGroup(), DCM_PatientID.getElement() + 1);

// Files without file meta information are accepted only when they look like
// a DICOM data set: DCMTK's auto-detection parses some arbitrary files
// without complaint.
bool looksLikeDataSet(DcmDataset& dataset) {
    return dataset.tagExists(DCM_SOPClassUID) || dataset.tagExists(DCM_SOPInstanceUID) ||
           dataset.tagExists(DCM_StudyInstanceUID) || dataset.tagExists(DCM_PatientID);
}

// A Part 10 file starts with a 128-byte preamble and "DICM".
bool hasDicomPrefix(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(132).mid(128) == "DICM";
}

// Text values in UTF-8, whatever character set the file declares.
void convertTexts(DcmDataset& dataset) {
    OFString charset;
    dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    if (!charset.empty() && charset != "ISO_IR 192" && charset != "ISO_IR 6") {
        // A character set the converter does not know keeps its bytes; the
        // texts then read as Latin-1, which is what such files mostly hold.
        dataset.convertToUTF8();
    }
}

QString imageNumberOf(DcmDataset& dataset) {
    OFString number;
    dataset.findAndGetOFStringArray(DCM_PatientID, number);
    return fromDicomText(number);
}

// A file's first bytes as a toolkit stream. A value longer than the read
// limit stays in the file, as the toolkit's file stream leaves it, so no
// length field makes the parse allocate; a deflated data set is not inflated
// here, because the full read measures it first.
class PrefixStream final : public DcmInputBufferStream {
public:
    explicit PrefixStream(const QString& path) : m_file(toFilename(path)) {}
    DcmInputStreamFactory* newFactory() const override {
        return new DcmInputFileStreamFactory(m_file, tell());
    }
    OFCondition installCompressionFilter(E_StreamCompression) override {
        return EC_UnsupportedEncoding;
    }

private:
    OFFilename m_file;
};

// The first read holds the Patient ID of nearly every file; the second one
// that of files with longer headers. Beyond that the file stream reads on.
constexpr std::array<qint64, 2> kPrefixBytes{4 * 1024, 64 * 1024};

// Appends up to bytes from file to head, fewer only at the file's end; false
// after a read error.
bool readOn(QFile& file, QByteArray& head, qint64 bytes) {
    const qsizetype start = head.size();
    head.resize(start + bytes);
    qint64 held = 0;
    while (held < bytes) {
        const qint64 got = file.read(head.data() + start + held, bytes - held);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        held += got;
    }
    head.resize(start + held);
    return true;
}

// The number read from the file's first bytes through one open, without the
// look at the file's end that the toolkit's file stream takes; nullopt where
// they do not settle it (the Patient ID lies further in, the data set is
// deflated, the file is damaged, no regular file or no DICOM data set at
// first sight), which leaves the file to the full header read.
std::optional<QString> numberFromPrefix(const QString& path) {
    // Opening a named pipe would wait for a writer.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    QByteArray head;
    for (const qint64 size : kPrefixBytes) {
        if (!readOn(file, head, size - head.size()))
            return std::nullopt;
        const bool whole = head.size() < size;
        DcmFileFormat format;
        PrefixStream stream(path);
        stream.setBuffer(head.constData(), head.size());
        if (whole)
            stream.setEos();
        format.transferInit();
        const OFCondition status =
            format.readUntilTag(stream, EXS_Unknown, EGL_noChange, 1024, kAfterImageNumber);
        format.transferEnd();
        if (status.good()) {
            DcmDataset& dataset = *format.getDataset();
            if (format.getMetaInfo()->card() == 0 && !looksLikeDataSet(dataset))
                return std::nullopt;
            convertTexts(dataset);
            return imageNumberOf(dataset);
        }
        // More bytes help only a parse that ran out of them.
        if (whole || status != EC_StreamNotifyClient)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

qint64 dataSetLimit(DcmDataset& dataset, const QString& path) {
    return dataset.getOriginalXfer() == EXS_DeflatedLittleEndianExplicit ? kMaxInflatedBytes
                                                                         : QFileInfo(path).size();
}

void loadFile(DcmFileFormat& format, const QString& path, Extent extent) {
    initialise();
    const QFileInfo info(path);
    if (!info.exists()) {
        throw ImagingError(QStringLiteral("Die Datei %1 wurde nicht gefunden.").arg(quoted(path)));
    }
    if (!info.isFile()) {
        throw ImagingError(QStringLiteral("%1 ist keine Datei.").arg(quoted(path)));
    }
    if (mayBeDeflated(path)) {
        checkInflatedSize(path, kMaxInflatedBytes);
    }
    // A partial read leaves large values on disk and stops before the pixel
    // data, or right after the Patient ID when only that is wanted (the parse
    // stops before the first tag at or above the stop tag), so a list of
    // thousands of files loads quickly.
    const OFCondition status =
        extent == Extent::Whole
            ? format.loadFile(toFilename(path))
            : format.loadFileUntilTag(toFilename(path), EXS_Unknown, EGL_noChange, 1024,
                                      ERM_autoDetect,
                                      extent == Extent::Header ? DCM_PixelData : kAfterImageNumber);
    if (status.bad()) {
        QString cause = causeOf(status);
        if (cause == damagedCause() && !hasDicomPrefix(path)) {
            cause = QStringLiteral("sie ist keine DICOM-Datei oder ist beschädigt");
        }
        throw ImagingError(
            QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2.").arg(quoted(path), cause));
    }
    DcmDataset& dataset = *format.getDataset();
    // A file without meta information whose only sign of DICOM lies beyond
    // the Patient ID is judged on its whole header, as a header read would.
    if (format.getMetaInfo()->card() == 0 && !looksLikeDataSet(dataset) &&
        extent == Extent::UpToImageNumber) {
        loadFile(format, path, Extent::Header);
        return;
    }
    if (format.getMetaInfo()->card() == 0 && !looksLikeDataSet(dataset)) {
        throw ImagingError(QStringLiteral("Die Datei %1 ist keine DICOM-Datei.").arg(quoted(path)));
    }
    convertTexts(dataset);
}

void guarded(const QString& path, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::bad_alloc&) {
        throw ImagingError(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2.")
                               .arg(quoted(path), memoryCause()));
    }
}

} // namespace detail

void ImageCollection::readFile(const QString& path) {
    auto image = std::make_shared<Image>();
    detail::guarded(path, [&] {
        DcmDataset& dataset = image->d->dataset();
        detail::loadFile(image->d->file, path, detail::Extent::Whole);
        // Nothing is decoded before the pixel data are known to fit what
        // they claim to be.
        const QString fault = detail::pixelDataFault(dataset, detail::dataSetLimit(dataset, path));
        if (!fault.isEmpty()) {
            throw ImagingError(QStringLiteral("Die Bilddaten der Datei %1 sind beschädigt: %2.")
                                   .arg(detail::quoted(path), fault));
        }
        // Decode now: a file whose pixels cannot be shown is refused here,
        // with its name, rather than showing up as an empty viewer later.
        QString cause;
        image->d->display = detail::renderFrame(dataset, &cause);
        image->d->rendered = true;
        if (image->d->display.isNull()) {
            throw ImagingError(
                QStringLiteral("Das Bild der Datei %1 kann nicht dargestellt werden: %2.")
                    .arg(detail::quoted(path), cause));
        }
    });
    attach(*image);
    m_images.append(std::move(image));
    if (m_notify) {
        m_notify();
    }
}

Image readHeader(const QString& path) {
    Image image;
    detail::guarded(path, [&] { detail::loadFile(image.d->file, path, detail::Extent::Header); });
    return image;
}

QString readImageNumber(const QString& path) {
    initialise();
    QString number;
    detail::guarded(path, [&] {
        if (std::optional<QString> read = detail::numberFromPrefix(path)) {
            number = *read;
            return;
        }
        DcmFileFormat format;
        detail::loadFile(format, path, detail::Extent::UpToImageNumber);
        number = detail::imageNumberOf(*format.getDataset());
    });
    return number;
}

} // namespace imaging
