#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUuid>

#include <array>
#include <cmath>
#include <mutex>
#include <utility>

namespace imaging {

ImagingError::ImagingError(const QString& message) : core::Error(message) {}

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The boundary reports failures itself; DCMTK's console warnings (one
        // per header-only read, for instance) would only be noise.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
    });
}

// ---------------------------------------------------------------- helpers

namespace detail {

OFFilename toFilename(const QString& path) {
#if defined(_WIN32) && defined(WIDE_CHAR_FILE_IO_FUNCTIONS)
    return OFFilename(reinterpret_cast<const wchar_t*>(path.utf16()), OFTrue);
#else
    return OFFilename(QFile::encodeName(path).constData(), OFTrue);
#endif
}

QString quoted(const QString& path) {
    return QStringLiteral("„%1“").arg(QDir::toNativeSeparators(path));
}

QString fromDicomText(const OFString& text) {
    const QByteArray bytes(text.c_str(), static_cast<qsizetype>(text.length()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes);
    }
    return decoded;
}

namespace {

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

// Files without file meta information are accepted only when they look like
// a DICOM data set: DCMTK's auto-detection parses some arbitrary files
// without complaint.
bool looksLikeDataSet(DcmDataset& dataset) {
    return dataset.tagExists(DCM_SOPClassUID) || dataset.tagExists(DCM_SOPInstanceUID) ||
           dataset.tagExists(DCM_StudyInstanceUID) || dataset.tagExists(DCM_PatientID);
}

} // namespace

void putText(DcmDataset& dataset, const DcmTag& tag, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    if (!isAscii(utf8)) {
        OFString charset;
        dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
        if (charset != "ISO_IR 192") {
            dataset.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        }
    }
    const OFCondition status =
        dataset.putAndInsertString(tag, utf8.constData(), static_cast<Uint32>(utf8.size()));
    if (status.bad()) {
        throw ImagingError(QStringLiteral("Der Wert „%1“ kann nicht in das Attribut (%2,%3) "
                                          "geschrieben werden: %4.")
                               .arg(value)
                               .arg(tag.getGroup(), 4, 16, QLatin1Char('0'))
                               .arg(tag.getElement(), 4, 16, QLatin1Char('0'))
                               .arg(causeOf(status)));
    }
}

namespace {

// A Part 10 file starts with a 128-byte preamble and "DICM".
bool hasDicomPrefix(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(132).mid(128) == "DICM";
}

} // namespace

qint64 dataSetLimit(DcmDataset& dataset, const QString& path) {
    return dataset.getOriginalXfer() == EXS_DeflatedLittleEndianExplicit ? kMaxInflatedBytes
                                                                         : QFileInfo(path).size();
}

void loadFile(DcmFileFormat& format, const QString& path, bool headerOnly) {
    initialise();
    const QFileInfo info(path);
    if (!info.exists()) {
        throw ImagingError(QStringLiteral("Die Datei %1 wurde nicht gefunden.").arg(quoted(path)));
    }
    if (!info.isFile()) {
        throw ImagingError(QStringLiteral("%1 ist keine Datei.").arg(quoted(path)));
    }
    checkInflatedSize(path, kMaxInflatedBytes);
    // A header-only read leaves large values on disk and stops before the
    // pixel data, so a list of thousands of files loads quickly.
    const OFCondition status =
        headerOnly ? format.loadFileUntilTag(toFilename(path), EXS_Unknown, EGL_noChange, 1024,
                                             ERM_autoDetect, DCM_PixelData)
                   : format.loadFile(toFilename(path));
    if (status.bad()) {
        QString cause = causeOf(status);
        if (cause == damagedCause() && !hasDicomPrefix(path)) {
            cause = QStringLiteral("sie ist keine DICOM-Datei oder ist beschädigt");
        }
        throw ImagingError(
            QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2.").arg(quoted(path), cause));
    }
    DcmDataset& dataset = *format.getDataset();
    if (format.getMetaInfo()->card() == 0 && !looksLikeDataSet(dataset)) {
        throw ImagingError(QStringLiteral("Die Datei %1 ist keine DICOM-Datei.").arg(quoted(path)));
    }
    OFString charset;
    dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    if (!charset.empty() && charset != "ISO_IR 192" && charset != "ISO_IR 6") {
        // A character set the converter does not know keeps its bytes; the
        // texts then read as Latin-1, which is what such files mostly hold.
        dataset.convertToUTF8();
    }
}

void guarded(const QString& path, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::bad_alloc&) {
        throw ImagingError(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2.")
                               .arg(quoted(path), memoryCause()));
    }
}

QString newUid() {
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    std::array<unsigned, 16> number{};
    for (int i = 0; i < 16; ++i) {
        number[static_cast<std::size_t>(i)] = static_cast<unsigned char>(bytes[i]);
    }
    // Long division by ten of the big-endian 128-bit number.
    QString digits;
    bool nonZero = true;
    while (nonZero) {
        unsigned remainder = 0;
        nonZero = false;
        for (unsigned& byte : number) {
            const unsigned current = remainder * 256 + byte;
            byte = current / 10;
            remainder = current % 10;
            nonZero = nonZero || byte != 0;
        }
        digits.prepend(QChar(u'0' + remainder));
    }
    return QStringLiteral("2.25.") + digits;
}

} // namespace detail

// ---------------------------------------------------------------- Attribute

Attribute::Attribute(bool present, const QStringList& values)
    : m_present(present), m_values(present ? values : QStringList()) {}

QString Attribute::value() const {
    return m_values.join(QLatin1Char('\\'));
}

QString Attribute::valueNumber(int k) const {
    if (k < 1 || k > m_values.size()) {
        return {};
    }
    return m_values.at(k - 1);
}

// ---------------------------------------------------------------- Label

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

// ---------------------------------------------------------------- ImageCollection

void ImageCollection::clear() {
    m_images.clear();
    if (m_notify) {
        m_notify();
    }
}

void ImageCollection::readFile(const QString& path) {
    auto image = std::make_shared<Image>();
    detail::guarded(path, [&] {
        DcmDataset& dataset = image->d->dataset();
        detail::loadFile(image->d->file, path, false);
        // Nothing is decoded before the pixel data are known to fit what
        // they claim to be.
        const QString fault = detail::pixelDataFault(dataset, detail::dataSetLimit(dataset, path));
        if (!fault.isEmpty()) {
            throw ImagingError(QStringLiteral("Die Bilddaten der Datei %1 sind beschädigt: %2.")
                                   .arg(detail::quoted(path), fault));
        }
        detail::decodeJpeg2000(dataset, path);
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

// ---------------------------------------------------------------- UIDs

QString UidGenerator::newUid() {
    return detail::newUid();
}

Image readHeader(const QString& path) {
    Image image;
    detail::guarded(path, [&] { detail::loadFile(image.d->file, path, true); });
    return image;
}

QString readImageNumber(const QString& path) {
    return readHeader(path).imageNumber();
}

} // namespace imaging
