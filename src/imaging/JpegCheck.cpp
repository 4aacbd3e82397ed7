// The JPEG and JPEG-LS frame headers, checked before the toolkit's decoders
// see them.

#include "PixelCheck.h"

#include <optional>

namespace imaging::detail {

namespace {

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

} // namespace

QString jpegFault(const std::vector<Fragment>& fragments, bool jpegLs, qint64 frameBytes) {
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

} // namespace imaging::detail
