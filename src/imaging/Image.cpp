#include "ImageImpl.h"
#include "LabelPainter.h"

#include "core/AtomicFile.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace imaging {

namespace {

constexpr const char* kSecondaryCaptureClass = UID_SecondaryCaptureImageStorage;

QString statusText(EI_Status status) {
    QString text;
    switch (status) {
    case EIS_MissingAttribute:
        text = QStringLiteral("die Beschreibung der Pixeldaten ist unvollständig");
        break;
    case EIS_NotSupportedValue:
        text = QStringLiteral("die Kodierung der Pixeldaten wird nicht unterstützt");
        break;
    case EIS_MemoryFailure:
        text = detail::memoryCause();
        break;
    default:
        text = QStringLiteral("die Pixeldaten sind ungültig oder können nicht dekodiert werden");
        break;
    }
    return text;
}

// Decimal text of a DS value; tolerates the decimal comma an operator may
// type into the pixel spacing.
double parseDecimal(const OFString& text) {
    bool ok = false;
    const double value = QString::fromLatin1(text.c_str())
                             .trimmed()
                             .replace(QLatin1Char(','), QLatin1Char('.'))
                             .toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

// Elements that describe how the source's stored pixels become grey or colour
// values; the derived copy's RGB pixels are already the displayed result.
const DcmTagKey kPixelCodingTags[] = {
    DCM_NumberOfFrames,
    DCM_FrameIncrementPointer,
    DCM_FrameTime,
    DCM_FrameTimeVector,
    DCM_SmallestImagePixelValue,
    DCM_LargestImagePixelValue,
    DCM_PixelPaddingValue,
    DCM_PixelPaddingRangeLimit,
    DCM_RedPaletteColorLookupTableDescriptor,
    DCM_GreenPaletteColorLookupTableDescriptor,
    DCM_BluePaletteColorLookupTableDescriptor,
    DCM_RedPaletteColorLookupTableData,
    DCM_GreenPaletteColorLookupTableData,
    DCM_BluePaletteColorLookupTableData,
    DCM_SegmentedRedPaletteColorLookupTableData,
    DCM_SegmentedGreenPaletteColorLookupTableData,
    DCM_SegmentedBluePaletteColorLookupTableData,
    DCM_PaletteColorLookupTableUID,
    DCM_WindowCenter,
    DCM_WindowWidth,
    DCM_WindowCenterWidthExplanation,
    DCM_VOILUTFunction,
    DCM_VOILUTSequence,
    DCM_RescaleIntercept,
    DCM_RescaleSlope,
    DCM_RescaleType,
    DCM_ModalityLUTSequence,
    DCM_PresentationLUTShape,
};

QString writeError(const QString& path, const QString& cause) {
    return QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2.")
        .arg(detail::quoted(path), cause);
}

} // namespace

namespace detail {

namespace {

QImage renderChecked(DcmDataset& dataset, QString* cause) {
    if (!dataset.tagExists(DCM_PixelData)) {
        *cause = QStringLiteral("sie enthält keine Pixeldaten");
        return {};
    }
    // The data set is in memory: only what it declares limits its size.
    *cause = pixelDataFault(dataset, std::numeric_limits<qint64>::max());
    if (!cause->isEmpty()) {
        return {};
    }
    // Only frame 1 is decoded; a multi-frame file shows its first frame.
    DicomImage image(&dataset, dataset.getOriginalXfer(), CIF_UsePartialAccessToPixelData, 0, 1);
    if (image.getStatus() != EIS_Normal) {
        *cause = statusText(image.getStatus());
        return {};
    }
    const bool grey = image.isMonochrome();
    if (grey) {
        // A window DCMTK refuses (a width below 1, say) falls back to min-max.
        const bool windowed = (image.getWindowCount() > 0 && image.setWindow(0)) ||
                              (image.getVoiLutCount() > 0 && image.setVoiLut(0));
        if (!windowed) {
            image.setMinMaxWindow(0);
        }
    }
    const auto* pixels = static_cast<const uchar*>(image.getOutputData(8, 0, 0));
    if (pixels == nullptr) {
        *cause = statusText(image.getStatus() == EIS_Normal ? EIS_InvalidValue : image.getStatus());
        return {};
    }
    const int width = static_cast<int>(image.getWidth());
    const int height = static_cast<int>(image.getHeight());
    const int rowBytes = grey ? width : width * 3;
    QImage result(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (result.isNull()) {
        *cause = statusText(EIS_MemoryFailure);
        return {};
    }
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels + static_cast<qsizetype>(y) * rowBytes, rowBytes, result.scanLine(y));
    }
    return result;
}

} // namespace

QImage renderFrame(DcmDataset& dataset, QString* cause) {
    try {
        return renderChecked(dataset, cause);
    } catch (const std::bad_alloc&) {
        *cause = memoryCause();
        return {};
    }
}

void completeSecondaryCapture(DcmDataset& dataset) {
    // Type 2 attributes of the Patient, General Study, General Series,
    // General Equipment and General Image modules, and Laterality, which
    // dciodvfy expects for a Secondary Capture image.
    const DcmTagKey typeTwo[] = {
        DCM_PatientName,
        DCM_PatientID,
        DCM_PatientBirthDate,
        DCM_PatientSex,
        DCM_StudyDate,
        DCM_StudyTime,
        DCM_ReferringPhysicianName,
        DCM_StudyID,
        DCM_AccessionNumber,
        DCM_SeriesNumber,
        DCM_Laterality,
        DCM_Manufacturer,
        DCM_InstanceNumber,
        DCM_PatientOrientation,
    };
    for (const DcmTagKey& key : typeTwo) {
        if (!dataset.tagExists(key)) {
            dataset.insertEmptyElement(key);
        }
    }
    if (!dataset.tagExists(DCM_Modality)) {
        dataset.putAndInsertString(DCM_Modality, "OT");
    }
    if (!dataset.tagExists(DCM_ConversionType)) {
        dataset.putAndInsertString(DCM_ConversionType, "WSD");
    }
}

} // namespace detail

// ---------------------------------------------------------------- lifetime

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

// ---------------------------------------------------------------- attributes

namespace {

QString textOf(Image::Impl& d, const DcmTagKey& key) {
    OFString value;
    d.dataset().findAndGetOFStringArray(key, value);
    return detail::fromDicomText(value);
}

} // namespace

QString Image::imageNumber() const {
    return textOf(*d, DCM_PatientID);
}
void Image::setImageNumber(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientID, value);
}
QString Image::patientName() const {
    return textOf(*d, DCM_PatientName);
}
void Image::setPatientName(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientName, value);
}
QString Image::birthDate() const {
    return textOf(*d, DCM_PatientBirthDate);
}
void Image::setBirthDate(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientBirthDate, value);
}
QString Image::sex() const {
    return textOf(*d, DCM_PatientSex);
}
void Image::setSex(const QString& value) {
    detail::putText(d->dataset(), DCM_PatientSex, value);
}
QString Image::studyUid() const {
    return textOf(*d, DCM_StudyInstanceUID);
}
void Image::setStudyUid(const QString& value) {
    detail::putText(d->dataset(), DCM_StudyInstanceUID, value);
}
QString Image::seriesUid() const {
    return textOf(*d, DCM_SeriesInstanceUID);
}
void Image::setSeriesUid(const QString& value) {
    detail::putText(d->dataset(), DCM_SeriesInstanceUID, value);
}
QString Image::imageUid() const {
    return textOf(*d, DCM_SOPInstanceUID);
}
void Image::setImageUid(const QString& value) {
    detail::putText(d->dataset(), DCM_SOPInstanceUID, value);
}
QString Image::sourceImageUid() const {
    DcmItem* source = nullptr;
    OFString value;
    if (d->dataset().findAndGetSequenceItem(DCM_SourceImageSequence, source, 0).good())
        source->findAndGetOFStringArray(DCM_ReferencedSOPInstanceUID, value);
    return detail::fromDicomText(value);
}

Attribute Image::attribute(quint16 group, quint16 element) const {
    const DcmTagKey key(group, element);
    DcmItem& holder = group == 0x0002 ? static_cast<DcmItem&>(*d->file.getMetaInfo())
                                      : static_cast<DcmItem&>(d->dataset());
    DcmElement* found = nullptr;
    if (holder.findAndGetElement(key, found).bad() || found == nullptr) {
        return {};
    }
    const DcmEVR vr = found->ident();
    if (vr == EVR_SQ || vr == EVR_pixelSQ || key == DCM_PixelData) {
        return Attribute(true, {});
    }
    OFString raw;
    if (found->getLength() == 0 || found->getOFStringArray(raw).bad()) {
        return Attribute(true, {});
    }
    const QString text = detail::fromDicomText(raw);
    // Text VRs hold a single value in which "\" is an ordinary character.
    if (vr == EVR_LT || vr == EVR_ST || vr == EVR_UT || vr == EVR_UR) {
        return Attribute(true, {text});
    }
    return Attribute(true, text.split(QLatin1Char('\\')));
}

void Image::addAttribute(quint16 group, quint16 element, const QString& value) {
    DcmTag tag(group, element);
    if (group == 0x0002 || group == 0xFFFE || tag.getEVR() == EVR_SQ || tag == DCM_PixelData) {
        throw ImagingError(
            QStringLiteral("Das Attribut (%1,%2) kann nicht als Text gesetzt werden.")
                .arg(group, 4, 16, QLatin1Char('0'))
                .arg(element, 4, 16, QLatin1Char('0')));
    }
    if (tag.getEVR() == EVR_UNKNOWN || tag.getEVR() == EVR_UN) {
        tag.setVR(DcmVR(EVR_LO));
    }
    detail::putText(d->dataset(), tag, value);
    if (group == 0x0028) {
        d->invalidateDisplay();
    }
}

int Image::width() const {
    Uint16 columns = 0;
    d->dataset().findAndGetUint16(DCM_Columns, columns);
    return columns;
}

int Image::height() const {
    Uint16 rows = 0;
    d->dataset().findAndGetUint16(DCM_Rows, rows);
    return rows;
}

QImage Image::displayImage() const {
    if (!d->rendered) {
        QString cause;
        d->display = detail::renderFrame(d->dataset(), &cause);
        d->rendered = true;
    }
    return d->display;
}

void Image::refreshLabels(bool /*flag: both values repaint*/) {
    if (m_refresh) {
        m_refresh();
    }
}

double Image::mmPerPixel(int x, int y1, int y2) const {
    DcmDataset& dataset = d->dataset();
    OFString rowSpacing;
    if (dataset.findAndGetOFString(DCM_PixelSpacing, rowSpacing, 0).good()) {
        const double spacing = parseDecimal(rowSpacing);
        if (spacing > 0.0) {
            return spacing;
        }
    }
    const qint64 top = std::min(y1, y2);
    const qint64 bottom = std::max(y1, y2);
    DcmSequenceOfItems* regions = nullptr;
    if (dataset.findAndGetSequence(DCM_SequenceOfUltrasoundRegions, regions).bad() ||
        regions == nullptr) {
        return 0.0;
    }
    constexpr Uint16 kCentimetres = 3;
    for (unsigned long i = 0; i < regions->card(); ++i) {
        DcmItem* region = regions->getItem(i);
        Uint32 x0 = 0, y0 = 0, x1 = 0, yEnd = 0;
        Uint16 units = 0;
        Float64 deltaY = 0.0;
        if (region->findAndGetUint32(DCM_RegionLocationMinX0, x0).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMinY0, y0).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMaxX1, x1).bad() ||
            region->findAndGetUint32(DCM_RegionLocationMaxY1, yEnd).bad() ||
            region->findAndGetUint16(DCM_PhysicalUnitsYDirection, units).bad() ||
            region->findAndGetFloat64(DCM_PhysicalDeltaY, deltaY).bad()) {
            continue;
        }
        const bool holdsLine = x >= static_cast<qint64>(x0) && x <= static_cast<qint64>(x1) &&
                               top >= static_cast<qint64>(y0) &&
                               bottom <= static_cast<qint64>(yEnd);
        if (holdsLine && units == kCentimetres && std::isfinite(deltaY) && deltaY != 0.0) {
            return std::abs(deltaY) * 10.0;
        }
    }
    return 0.0;
}

// ---------------------------------------------------------------- derived copy

Image Image::saveImage(bool /*flag: the copy always carries the labels*/) const {
    const QImage shown = displayImage();
    if (shown.isNull()) {
        throw ImagingError(QStringLiteral("Das Bild hat keine darstellbaren Pixeldaten; es kann "
                                          "keine gemessene Kopie erstellt werden."));
    }
    QImage canvas = shown.convertToFormat(QImage::Format_RGB32);
    {
        QPainter painter(&canvas);
        paintLabels(painter, m_labels, canvas.size());
    }
    canvas = canvas.convertToFormat(QImage::Format_RGB888);

    Image copy;
    DcmDataset& source = d->dataset();
    DcmDataset& target = copy.d->dataset();
    for (unsigned long i = 0; i < source.card(); ++i) {
        DcmElement* element = source.getElement(i);
        if (element->getTag() != DCM_PixelData) {
            target.insert(static_cast<DcmElement*>(element->clone()), OFTrue);
        }
    }
    for (const DcmTagKey& key : kPixelCodingTags) {
        target.findAndDeleteElement(key);
    }
    const int width = canvas.width();
    const int height = canvas.height();
    QByteArray pixels;
    pixels.reserve(static_cast<qsizetype>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        pixels.append(reinterpret_cast<const char*>(canvas.constScanLine(y)), width * 3);
    }
    target.putAndInsertUint16(DCM_SamplesPerPixel, 3);
    target.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
    target.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    target.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(height));
    target.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(width));
    target.putAndInsertUint16(DCM_BitsAllocated, 8);
    target.putAndInsertUint16(DCM_BitsStored, 8);
    target.putAndInsertUint16(DCM_HighBit, 7);
    target.putAndInsertUint16(DCM_PixelRepresentation, 0);
    target.putAndInsertUint8Array(DCM_PixelData, reinterpret_cast<const Uint8*>(pixels.constData()),
                                  static_cast<unsigned long>(pixels.size()));
    target.updateOriginalXfer();

    target.putAndInsertString(DCM_SOPClassUID, kSecondaryCaptureClass);
    target.putAndInsertString(DCM_SOPInstanceUID, detail::newUid().toLatin1().constData());
    target.putAndInsertString(DCM_ImageType, "DERIVED\\SECONDARY");
    target.putAndInsertString(DCM_BurnedInAnnotation, "YES");
    // The copy is its own series beside the original, in the same study,
    // and names the image it was made from (that one only: a source sequence
    // the original carries refers to the original's own source).
    target.putAndInsertString(DCM_SeriesInstanceUID, detail::newUid().toLatin1().constData());
    target.findAndDeleteElement(DCM_SourceImageSequence);
    OFString sourceClass;
    OFString sourceInstance;
    source.findAndGetOFStringArray(DCM_SOPClassUID, sourceClass);
    source.findAndGetOFStringArray(DCM_SOPInstanceUID, sourceInstance);
    DcmItem* reference = nullptr;
    if (!sourceClass.empty() && !sourceInstance.empty() &&
        target.findOrCreateSequenceItem(DCM_SourceImageSequence, reference, -2).good()) {
        reference->putAndInsertOFStringArray(DCM_ReferencedSOPClassUID, sourceClass);
        reference->putAndInsertOFStringArray(DCM_ReferencedSOPInstanceUID, sourceInstance);
    }
    detail::putText(target, DCM_DerivationDescription, kMeasuredCopyDerivation);
    detail::completeSecondaryCapture(target);
    return copy;
}

// ---------------------------------------------------------------- writing

void Image::write(const QString& path, bool flag) const {
    initialise();
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        throw ImagingError(writeError(
            path, QStringLiteral("der Ordner %1 existiert nicht").arg(detail::quoted(folder))));
    }
    // With the flag: a DICOM file with file meta information. Without: the
    // bare data set in the default transfer syntax, readable without meta.
    const E_TransferSyntax transferSyntax =
        flag ? EXS_LittleEndianExplicit : EXS_LittleEndianImplicit;
    DcmDataset& dataset = d->dataset();
    if (dataset.chooseRepresentation(transferSyntax, nullptr).bad() ||
        !dataset.canWriteXfer(transferSyntax)) {
        throw ImagingError(
            writeError(path, QStringLiteral("die Pixeldaten können nicht dekomprimiert werden")));
    }
    // The file is completed under a temporary name beside the target and
    // only then replaces it, so a failed write never destroys a file.
    // Temporary files left there by an interrupted write go first.
    core::removeStaleTemporaries(folder);
    try {
        core::replaceFile(info.absoluteFilePath(), [&](const QString& temporary) {
            const OFCondition status = d->file.saveFile(
                detail::toFilename(temporary), transferSyntax, EET_ExplicitLength, EGL_withoutGL,
                EPD_noChange, 0, 0, flag ? EWM_createNewMeta : EWM_dataset);
            if (status.bad()) {
                throw ImagingError(writeError(path, detail::causeOf(status)));
            }
            // The toolkit does not report an error of the final flush (disk
            // full, size limit), so a short file is caught by its size
            // before it can replace the target.
            const qint64 expected =
                static_cast<qint64>(d->file.calcElementLength(transferSyntax, EET_ExplicitLength));
            if (QFileInfo(temporary).size() != expected) {
                throw ImagingError(writeError(
                    path, QStringLiteral("die Datei wurde nicht vollständig geschrieben")));
            }
        });
    } catch (const core::FileSystemError& e) {
        // The cause is a sentence of its own.
        throw ImagingError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden. %2")
                               .arg(detail::quoted(path), e.cause()));
    }
}

} // namespace imaging
