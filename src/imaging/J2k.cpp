// JPEG 2000 pixel data: DCMTK has no codec for it, so the frames are decoded
// with OpenJPEG when the file is read and the data set is given native pixels.

#include "J2k.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <algorithm>

namespace imaging::detail {

namespace {

bool endsFrame(const std::vector<Uint8>& bytes) {
    const auto n = bytes.size();
    const auto eoc = [&](std::size_t end) {
        return end >= 2 && bytes[end - 2] == 0xFF && bytes[end - 1] == 0xD9;
    };
    return eoc(n) || (n >= 3 && bytes[n - 1] == 0 && eoc(n - 1));
}

// The code streams of the frames: fragments after the offset table, one frame
// per fragment when the counts match, else split after each end-of-codestream.
std::vector<std::vector<Uint8>> frameStreams(DcmPixelSequence& sequence, long frames) {
    std::vector<std::vector<Uint8>> streams(1);
    const unsigned long fragments = sequence.card();
    for (unsigned long i = 1; i < fragments; ++i) {
        DcmPixelItem* item = nullptr;
        Uint8* data = nullptr;
        if (sequence.getItem(item, i).bad() || item->getUint8Array(data).bad() || data == nullptr) {
            continue;
        }
        if (frames > 1 && !streams.back().empty() &&
            (fragments - 1 == static_cast<unsigned long>(frames) || endsFrame(streams.back()))) {
            streams.emplace_back();
        }
        streams.back().insert(streams.back().end(), data, data + item->getLength());
    }
    return streams;
}

} // namespace

void decodeJpeg2000(DcmDataset& dataset, const QString& path) {
    const E_TransferSyntax syntax = dataset.getOriginalXfer();
    if (syntax != EXS_JPEG2000LosslessOnly && syntax != EXS_JPEG2000) {
        return;
    }
    const auto refuse = [&] {
        return ImagingError(
            QStringLiteral("Das JPEG-2000-Bild der Datei %1 ist beschädigt und kann nicht "
                           "dekodiert werden.")
                .arg(quoted(path)));
    };
    DcmElement* element = nullptr;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || element == nullptr) {
        return; // refused later as an image without pixel data
    }
    auto* pixelData = static_cast<DcmPixelData*>(element);
    DcmPixelSequence* sequence = nullptr;
    Layout layout;
    Sint32 frames = 1;
    if (pixelData->getEncapsulatedRepresentation(syntax, nullptr, sequence).bad() ||
        sequence == nullptr || dataset.findAndGetUint16(DCM_Rows, layout.rows).bad() ||
        dataset.findAndGetUint16(DCM_Columns, layout.columns).bad() ||
        dataset.findAndGetUint16(DCM_SamplesPerPixel, layout.samples).bad() ||
        dataset.findAndGetUint16(DCM_BitsAllocated, layout.allocated).bad() ||
        dataset.findAndGetUint16(DCM_BitsStored, layout.stored).bad() ||
        (layout.samples != 1 && layout.samples != 3) ||
        (layout.allocated != 8 && layout.allocated != 16)) {
        throw refuse();
    }
    dataset.findAndGetSint32(DCM_NumberOfFrames, frames);
    frames = std::max<Sint32>(frames, 1);
    const std::vector<std::vector<Uint8>> streams = frameStreams(*sequence, frames);
    if (streams.size() != static_cast<std::size_t>(frames)) {
        throw refuse();
    }
    std::vector<Uint16> values;
    for (const std::vector<Uint8>& stream : streams) {
        if (!decodeFrame(stream, layout, values)) {
            throw refuse();
        }
    }

    // Native pixels replace the encapsulated ones, samples interleaved.
    OFCondition status;
    if (layout.allocated == 8) {
        const std::vector<Uint8> bytes(values.begin(), values.end());
        status = dataset.putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size());
    } else {
        status = dataset.putAndInsertUint16Array(DCM_PixelData, values.data(), values.size());
    }
    if (status.bad()) {
        throw refuse();
    }
    if (layout.samples == 3) {
        // OpenJPEG has already undone the colour transform.
        OFString photometric;
        dataset.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
        if (photometric == "YBR_RCT" || photometric == "YBR_ICT") {
            dataset.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        }
        dataset.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    }
    dataset.updateOriginalXfer();
}

} // namespace imaging::detail
