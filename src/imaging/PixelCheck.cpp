// Checks what a decoder will be given before DCMTK or OpenJPEG sees it: the
// toolkit's decoders trust the sizes and offsets a file declares, and a
// damaged file could make them read or write out of bounds or ask for
// gigabytes of memory.

#include "PixelCheck.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

namespace imaging::detail {

QString pixelDataFault(DcmDataset& dataset, qint64 limit) {
    DcmElement* element = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || element == nullptr) {
        return {}; // refused where it is shown, as an image without pixel data
    }
    Declared declared;
    if (dataset.findAndGetUint16(DCM_Rows, declared.rows).bad() ||
        dataset.findAndGetUint16(DCM_Columns, declared.columns).bad() ||
        dataset.findAndGetUint16(DCM_SamplesPerPixel, declared.samples).bad() ||
        dataset.findAndGetUint16(DCM_BitsAllocated, declared.allocated).bad()) {
        return {}; // DCMTK refuses an incomplete description without decoding
    }
    if (dataset.tagExists(DCM_NumberOfFrames) &&
        (dataset.findAndGetSint32(DCM_NumberOfFrames, declared.frames).bad() ||
         declared.frames < 1)) {
        return QStringLiteral("die Anzahl der Einzelbilder ist ungültig");
    }
    if (declared.rows == 0 || declared.columns == 0 || declared.samples < 1 ||
        declared.samples > 4 || declared.allocated < 1 || declared.allocated > 32) {
        return QStringLiteral("die Beschreibung der Pixeldaten ist ungültig");
    }
    // Far beyond any ultrasound image: refused before anything is allocated.
    constexpr qint64 kMaxFrameBytes = qint64{256} << 20;
    constexpr qint64 kMaxDecodedBytes = qint64{1} << 30;
    const qint64 frameBytes = declared.frameBytes();
    if (frameBytes > kMaxFrameBytes || frameBytes * declared.frames > kMaxDecodedBytes) {
        return QStringLiteral("das Bild soll %1 × %2 Bildpunkte in %3 Einzelbildern "
                              "groß sein, weit mehr als die Datei enthalten kann")
            .arg(declared.columns)
            .arg(declared.rows)
            .arg(declared.frames);
    }

    const DcmXfer syntax(dataset.getOriginalXfer());
    if (!syntax.isEncapsulated()) {
        // Native frames follow each other bit by bit; 4:2:2 colour stores two
        // samples per pixel, 4:2:0 one and a half.
        OFString photometric;
        dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
        qint64 bits = qint64{declared.rows} * declared.columns * declared.samples *
                      declared.allocated * declared.frames;
        if (photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422") {
            bits = bits * 2 / 3;
        } else if (photometric == "YBR_PARTIAL_420") {
            bits /= 2;
        }
        const qint64 length = element->getLength();
        if (length > limit || length < (bits + 7) / 8) {
            return QStringLiteral("die Pixeldaten sind kürzer, als Zeilen, Spalten, "
                                  "Abtastwerte, Bits und Einzelbilder angeben");
        }
        return {};
    }

    auto* pixelData = static_cast<DcmPixelData*>(element);
    DcmPixelSequence* sequence = nullptr;
    if (pixelData->getEncapsulatedRepresentation(syntax.getXfer(), nullptr, sequence).bad() ||
        sequence == nullptr || sequence->card() < 2) {
        return QStringLiteral("die komprimierten Pixeldaten fehlen");
    }
    // Item 0 is the Basic Offset Table, the fragments follow.
    Fragment offsetTable;
    std::vector<Fragment> fragments;
    qint64 total = 0;
    for (unsigned long i = 0; i < sequence->card(); ++i) {
        DcmPixelItem* item = nullptr;
        Uint8* data = nullptr;
        if (sequence->getItem(item, i).bad() || item->getLength() > limit - total ||
            (item->getLength() > 0 && (item->getUint8Array(data).bad() || data == nullptr))) {
            return QStringLiteral("ein Fragment reicht über das Dateiende hinaus");
        }
        total += item->getLength();
        const Fragment fragment{data, item->getLength()};
        if (i == 0) {
            offsetTable = fragment;
        } else {
            fragments.push_back(fragment);
        }
    }
    if (fragments.size() < std::size_t(declared.frames)) {
        return QStringLiteral("es gibt weniger Fragmente als Einzelbilder");
    }

    if (syntax.getXfer() == EXS_RLELossless) {
        return rleFault(fragments, offsetTable, declared);
    }
    if (syntax.getXfer() == EXS_JPEG2000LosslessOnly || syntax.getXfer() == EXS_JPEG2000) {
        return {}; // their headers are checked against the image as they are decoded
    }
    // JPEG and JPEG-LS: no code stream may decode to more than the frame
    // buffer the decoder writes into, nor keep the decoder's walk going.
    const bool jpegLs =
        syntax.getXfer() == EXS_JPEGLSLossless || syntax.getXfer() == EXS_JPEGLSLossy;
    return jpegFault(fragments, jpegLs, frameBytes);
}

} // namespace imaging::detail
