// The RLE frames' headers, checked before the toolkit's RLE decoder sees them.

#include "PixelCheck.h"

#include <algorithm>
#include <optional>

namespace imaging::detail {

namespace {

Uint32 littleEndian32(const Uint8* bytes) {
    return Uint32(bytes[0]) | Uint32(bytes[1]) << 8 | Uint32(bytes[2]) << 16 |
           Uint32(bytes[3]) << 24;
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

QString rleFault(const std::vector<Fragment>& fragments, const Fragment& offsetTable,
                 const Declared& declared) {
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

} // namespace imaging::detail
