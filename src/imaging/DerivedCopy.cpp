// The measured copy: the displayed pixels with the labels burned in.

#include "ImageImpl.h"
#include "imaging/ImagingError.h"
#include "imaging/LabelPainter.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QPainter>

namespace imaging {

namespace {

constexpr const char* kSecondaryCaptureClass = UID_SecondaryCaptureImageStorage;

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

} // namespace

Image Image::saveImage(bool /*flag: the copy always carries the labels*/,
                       const QString& derivationDescription) const {
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
    detail::putText(target, DCM_DerivationDescription, derivationDescription);
    detail::completeSecondaryCapture(target);
    return copy;
}

} // namespace imaging
