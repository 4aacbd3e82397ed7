// Checks what a decoder will be given before DCMTK or OpenJPEG sees it: the
// toolkit's decoders trust the sizes and offsets a file declares, and a
// damaged file could make them read or write out of bounds or ask for
// gigabytes of memory.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace imaging::detail {

namespace {

Uint32 littleEndian32(const Uint8* bytes) {
    return Uint32(bytes[0]) | Uint32(bytes[1]) << 8 | Uint32(bytes[2]) << 16 |
           Uint32(bytes[3]) << 24;
}

struct Declared {
    Uint16 rows = 0, columns = 0, samples = 0, allocated = 0;
    Sint32 frames = 1;
    qint64 frameBytes() const { return (qint64{rows} * columns * samples * allocated + 7) / 8; }
};

// One fragment's bytes.
struct Fragment {
    const Uint8* data = nullptr;
    Uint32 length = 0;
};

// What the frame header (SOF) of a JPEG or JPEG-LS stream declares, found by
// walking its markers as the toolkit's JPEG decoder does before decoding.
struct JpegHeader {
    // The walk would never end: the toolkit's walk stops at no marker TEM
    // (0xFF01) and so loops for good on a stream that has one before its SOF.
    bool endless = false;
    // lines × samples per line × components × bytes per sample; empty when
    // no frame header comes first, which the decoder then judges itself.
    std::optional<qint64> decodedBytes;
};

JpegHeader readJpegHeader(const Fragment& fragment, bool jpegLs) {
    const Uint8* bytes = fragment.data;
    const Uint32 size = fragment.length;
    Uint32 at = 0;
    while (at + 4 < size) {
        if (bytes[at] != 0xFF) {
            return {};
        }
        const Uint8 marker = bytes[at + 1];
        const Uint32 length = Uint32(bytes[at + 2]) << 8 | bytes[at + 3];
        const bool startOfFrame = (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                                   marker != 0xC8 && marker != 0xCC) ||
                                  (jpegLs && marker == 0xF7);
        if (startOfFrame) {
            if (length < 8 || at + 2 + length > size) {
                return {};
            }
            const Uint8* header = bytes + at + 4;
            const qint64 precision = header[0];
            const qint64 lines = qint64{header[1]} << 8 | header[2];
            const qint64 perLine = qint64{header[3]} << 8 | header[4];
            const qint64 components = header[5];
            return {false, lines * perLine * components * ((precision + 7) / 8)};
        }
        if (marker == 0x01) {
            return {true, std::nullopt};
        }
        if (marker == 0xFF) { // a fill byte
            at += 1;
        } else if (marker <= 0xBF || (marker >= 0xD0 && marker <= 0xD9)) {
            at += 2; // reserved, restart, start and end of image: no length
        } else {
            at += 2 + length;
        }
    }
    return {};
}

// The RLE header of a frame: 1 to 15 segments, one per byte of a sample,
// whose offsets rise from the end of the header and stay inside the frame.
bool rleHeaderFits(const Fragment& first, qint64 frameLength, const Declared& declared) {
    constexpr Uint32 kHeaderBytes = 64;
    if (first.length < kHeaderBytes || declared.allocated % 8 != 0) {
        return false;
    }
    const Uint32 segments = littleEndian32(first.data);
    if (segments < 1 || segments > 15 ||
        segments != Uint32(declared.samples) * declared.allocated / 8) {
        return false;
    }
    Uint32 previous = 0;
    for (Uint32 s = 0; s < segments; ++s) {
        const Uint32 offset = littleEndian32(first.data + 4 + 4 * s);
        if (offset < kHeaderBytes || offset <= previous || offset >= frameLength) {
            return false;
        }
        previous = offset;
    }
    return true;
}

// The fragments of each frame: all of them for a single frame, one each when
// the counts agree, else as the Basic Offset Table divides them.
std::optional<std::vector<std::vector<Fragment>>>
framesOf(const std::vector<Fragment>& fragments, const Fragment& offsetTable, Sint32 frames) {
    const auto count = std::size_t(frames);
    std::vector<std::vector<Fragment>> result(count);
    if (count == 1) {
        result[0] = fragments;
        return result;
    }
    if (fragments.size() == count) {
        for (std::size_t f = 0; f < count; ++f) {
            result[f] = {fragments[f]};
        }
        return result;
    }
    if (offsetTable.length != 4 * Uint32(frames)) {
        return std::nullopt;
    }
    // The table holds the offset of each frame's first fragment item, counted
    // from the first fragment; an item header takes 8 bytes.
    std::vector<qint64> starts;
    qint64 position = 0;
    for (const Fragment& fragment : fragments) {
        starts.push_back(position);
        position += 8 + qint64{fragment.length};
    }
    std::vector<std::size_t> first(count);
    for (std::size_t f = 0; f < count; ++f) {
        const auto found = std::find(starts.begin(), starts.end(),
                                     qint64{littleEndian32(offsetTable.data + 4 * f)});
        first[f] = std::size_t(found - starts.begin());
        if (found == starts.end() || (f == 0 && first[f] != 0) ||
            (f > 0 && first[f] <= first[f - 1])) {
            return std::nullopt;
        }
    }
    for (std::size_t f = 0; f < count; ++f) {
        const std::size_t end = f + 1 < count ? first[f + 1] : fragments.size();
        result[f].assign(fragments.begin() + qsizetype(first[f]),
                         fragments.begin() + qsizetype(end));
    }
    return result;
}

} // namespace

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
        const auto frames = framesOf(fragments, offsetTable, declared.frames);
        if (!frames) {
            return QStringLiteral("die Fragmente lassen sich den Einzelbildern nicht "
                                  "zuordnen");
        }
        for (const std::vector<Fragment>& frame : *frames) {
            qint64 length = 0;
            for (const Fragment& fragment : frame) {
                length += fragment.length;
            }
            if (frame.empty() || !rleHeaderFits(frame.front(), length, declared)) {
                return QStringLiteral("der RLE-Kopf eines Einzelbilds ist ungültig");
            }
        }
        return {};
    }
    if (syntax.getXfer() == EXS_JPEG2000LosslessOnly || syntax.getXfer() == EXS_JPEG2000) {
        return {}; // their headers are checked against the image as they are decoded
    }
    // JPEG and JPEG-LS: no code stream may decode to more than the frame
    // buffer the decoder writes into, nor keep the decoder's walk going.
    const bool jpegLs =
        syntax.getXfer() == EXS_JPEGLSLossless || syntax.getXfer() == EXS_JPEGLSLossy;
    // The decoder walks whichever fragment starts a frame; entropy-coded
    // data end the walk at once, as they do not start with a marker.
    for (const Fragment& fragment : fragments) {
        const JpegHeader header = readJpegHeader(fragment, jpegLs);
        if (header.endless) {
            return QStringLiteral("der JPEG-Datenstrom enthält eine ungültige Marke");
        }
        if (header.decodedBytes && *header.decodedBytes > frameBytes) {
            return QStringLiteral("der JPEG-Kopf passt nicht zu Zeilen, Spalten, "
                                  "Abtastwerten und Bits des Bildes");
        }
    }
    return {};
}

void checkInflatedSize(const QString& path, qint64 limit) {
    DcmInputFileStream stream(toFilename(path));
    if (!stream.good()) {
        return; // the read itself reports a file it cannot open
    }
    DcmMetaInfo meta;
    meta.transferInit();
    const OFCondition status = meta.read(stream, EXS_Unknown, EGL_noChange, 1024);
    meta.transferEnd();
    OFString syntax;
    if (status.bad() || meta.findAndGetOFString(DCM_TransferSyntaxUID, syntax).bad() ||
        syntax != UID_DeflatedExplicitVRLittleEndianTransferSyntax) {
        return;
    }
    // Inflated in small pieces and counted: the data set is refused before
    // it is held in memory whole.
    if (stream.installCompressionFilter(ESC_zlib).bad()) {
        return;
    }
    std::array<char, 64 * 1024> buffer{};
    qint64 inflated = 0;
    while (stream.good() && !stream.eos()) {
        const offile_off_t read = stream.read(buffer.data(), offile_off_t(buffer.size()));
        if (read <= 0) {
            return;
        }
        inflated += read;
        if (inflated > limit) {
            throw ImagingError(QStringLiteral("Die Datei %1 wird nicht gelesen: entpackt wäre sie "
                                              "größer als %2 MB und damit kein Ultraschallbild.")
                                   .arg(quoted(path))
                                   .arg(limit >> 20));
        }
    }
}

} // namespace imaging::detail
