// JPEG 2000 pixel data: DCMTK has no codec for it, so the frames are decoded
// with OpenJPEG. Display needs frame 1 alone; a write, which stores native
// pixels, decodes every frame.

#include "J2k.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace imaging::detail {

namespace {

// A fragment's bytes, left where the pixel sequence holds them.
struct Fragment {
    const Uint8* data = nullptr;
    std::size_t size = 0;
};
using FrameFragments = std::vector<Fragment>;

bool endsFrame(const FrameFragments& frame) {
    if (frame.empty()) {
        return false;
    }
    const Uint8* bytes = frame.back().data;
    const std::size_t n = frame.back().size;
    const auto eoc = [&](std::size_t end) {
        return end >= 2 && bytes[end - 2] == 0xFF && bytes[end - 1] == 0xD9;
    };
    return eoc(n) || (n >= 3 && bytes[n - 1] == 0 && eoc(n - 1));
}

// The fragments of each frame's code stream, after the offset table: one
// frame per fragment when the counts match, else split after each
// end-of-codestream.
std::vector<FrameFragments> frameFragments(DcmPixelSequence& sequence, long frames) {
    std::vector<FrameFragments> result(1);
    const unsigned long fragments = sequence.card();
    for (unsigned long i = 1; i < fragments; ++i) {
        DcmPixelItem* item = nullptr;
        Uint8* data = nullptr;
        if (sequence.getItem(item, i).bad() || item->getUint8Array(data).bad() || data == nullptr) {
            continue;
        }
        if (frames > 1 && !result.back().empty() &&
            (fragments - 1 == static_cast<unsigned long>(frames) || endsFrame(result.back()))) {
            result.emplace_back();
        }
        result.back().push_back({data, item->getLength()});
    }
    return result;
}

// The frames of a JPEG 2000 data set and what each decodes to.
struct Frames {
    Layout layout;
    std::vector<FrameFragments> fragments;
};

// The frames, or false when the attributes or the fragments do not describe
// frames that can be decoded.
bool framesOf(DcmDataset& dataset, Frames& frames) {
    DcmElement* element = nullptr;
    DcmPixelSequence* sequence = nullptr;
    Layout& layout = frames.layout;
    Sint32 count = 1;
    if (dataset.findAndGetElement(DCM_PixelData, element).bad() || element == nullptr ||
        static_cast<DcmPixelData*>(element)
            ->getEncapsulatedRepresentation(dataset.getOriginalXfer(), nullptr, sequence)
            .bad() ||
        sequence == nullptr || dataset.findAndGetUint16(DCM_Rows, layout.rows).bad() ||
        dataset.findAndGetUint16(DCM_Columns, layout.columns).bad() ||
        dataset.findAndGetUint16(DCM_SamplesPerPixel, layout.samples).bad() ||
        dataset.findAndGetUint16(DCM_BitsAllocated, layout.allocated).bad() ||
        dataset.findAndGetUint16(DCM_BitsStored, layout.stored).bad() ||
        (layout.samples != 1 && layout.samples != 3) ||
        (layout.allocated != 8 && layout.allocated != 16)) {
        return false;
    }
    dataset.findAndGetSint32(DCM_NumberOfFrames, count);
    count = std::max<Sint32>(count, 1);
    frames.fragments = frameFragments(*sequence, count);
    return frames.fragments.size() == static_cast<std::size_t>(count);
}

// Decodes one frame into out; a frame of several fragments is joined first.
template <typename T> bool decodeOne(const FrameFragments& frame, const Layout& layout, T* out) {
    if (frame.size() == 1) {
        return decodeFrame(frame.front().data, frame.front().size, layout, out);
    }
    std::size_t size = 0;
    for (const Fragment& fragment : frame) {
        size += fragment.size;
    }
    std::vector<Uint8> joined;
    joined.reserve(size);
    for (const Fragment& fragment : frame) {
        joined.insert(joined.end(), fragment.data, fragment.data + fragment.size);
    }
    return decodeFrame(joined.data(), joined.size(), layout, out);
}

// Decodes the first count frames into a new native Pixel Data element,
// allocated once at its final size.
template <typename T>
std::unique_ptr<DcmPixelData> decodeFrames(const Frames& frames, std::size_t count) {
    const Layout& layout = frames.layout;
    auto pixels =
        std::make_unique<DcmPixelData>(DcmTag(DCM_PixelData, sizeof(T) == 1 ? EVR_OB : EVR_OW));
    const std::size_t values = layout.frameValues();
    // The element's length is a 32-bit count of bytes, padded to even.
    if (values * count >= std::numeric_limits<Uint32>::max() / sizeof(T) - 1) {
        return nullptr;
    }
    T* out = nullptr;
    OFCondition status;
    if constexpr (sizeof(T) == 1) {
        status = pixels->createUint8Array(static_cast<Uint32>(values * count), out);
    } else {
        status = pixels->createUint16Array(static_cast<Uint32>(values * count), out);
    }
    if (status.bad() || out == nullptr) {
        return nullptr;
    }
    for (std::size_t f = 0; f < count; ++f) {
        if (!decodeOne(frames.fragments[f], layout, out + f * values)) {
            return nullptr;
        }
    }
    return pixels;
}

// Gives target the decoded frames as its native pixels, samples interleaved.
bool giveNativePixels(DcmDataset& target, const Frames& frames, std::size_t count) {
    std::unique_ptr<DcmPixelData> pixels = frames.layout.allocated == 8
                                               ? decodeFrames<Uint8>(frames, count)
                                               : decodeFrames<Uint16>(frames, count);
    if (!pixels || target.insert(pixels.get(), OFTrue).bad()) {
        return false;
    }
    pixels.release(); // now owned by the data set
    if (frames.layout.samples == 3) {
        // OpenJPEG has already undone the colour transform.
        OFString photometric;
        target.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
        if (photometric == "YBR_RCT" || photometric == "YBR_ICT") {
            target.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        }
        target.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    }
    target.updateOriginalXfer();
    return true;
}

QString damaged() {
    return QStringLiteral("das JPEG-2000-Bild ist beschädigt und kann nicht dekodiert werden");
}

} // namespace

bool isJpeg2000(DcmDataset& dataset) {
    const E_TransferSyntax syntax = dataset.getOriginalXfer();
    return syntax == EXS_JPEG2000LosslessOnly || syntax == EXS_JPEG2000;
}

QString decodeJpeg2000(DcmDataset& dataset) {
    if (!isJpeg2000(dataset)) {
        return {};
    }
    Frames frames;
    if (!framesOf(dataset, frames) || !giveNativePixels(dataset, frames, frames.fragments.size())) {
        return damaged();
    }
    return {};
}

QString decodeJpeg2000FirstFrame(DcmDataset& dataset, DcmDataset& firstFrame) {
    Frames frames;
    if (!framesOf(dataset, frames)) {
        return damaged();
    }
    // Every attribute but the pixels, which are frame 1 alone.
    for (unsigned long i = 0; i < dataset.card(); ++i) {
        DcmElement* element = dataset.getElement(i);
        if (element->getTag() != DCM_PixelData) {
            firstFrame.insert(static_cast<DcmElement*>(element->clone()), OFTrue);
        }
    }
    firstFrame.putAndInsertString(DCM_NumberOfFrames, "1");
    return giveNativePixels(firstFrame, frames, 1) ? QString() : damaged();
}

} // namespace imaging::detail
