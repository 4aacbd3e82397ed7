// A bitmap's header checked against the file before Qt reads it.

#include "BitmapCheck.h"

#include <algorithm>
#include <cstdlib>

namespace imaging::detail {

namespace {

qint64 littleEndian(const QByteArray& bytes, qsizetype at, int size) {
    qint64 value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

} // namespace

QString bitmapTruncation(const QByteArray& head, qint64 fileSize) {
    constexpr qsizetype kCoreHeader = 26;
    constexpr qsizetype kInfoHeader = 54;
    if (head.size() < kCoreHeader || !head.startsWith("BM")) {
        return {}; // not a bitmap: the reader says so
    }
    const qint64 pixelOffset = littleEndian(head, 10, 4);
    const qint64 headerSize = littleEndian(head, 14, 4);
    qint64 width = 0;
    qint64 height = 0;
    qint64 bits = 0;
    qint64 compression = 0;
    qint64 imageSize = 0;
    if (headerSize == 12) {
        width = littleEndian(head, 18, 2);
        height = littleEndian(head, 20, 2);
        bits = littleEndian(head, 24, 2);
    } else if (headerSize >= 40 && head.size() >= kInfoHeader) {
        width = static_cast<qint32>(littleEndian(head, 18, 4));
        height = std::abs(static_cast<qint64>(static_cast<qint32>(littleEndian(head, 22, 4))));
        bits = littleEndian(head, 28, 2);
        compression = littleEndian(head, 30, 4);
        imageSize = littleEndian(head, 34, 4);
    } else {
        return {};
    }
    if (width > 0xFFFF || height > 0xFFFF) {
        return QStringLiteral("das Bild ist zu groß");
    }
    if (pixelOffset >= fileSize) {
        return QStringLiteral("ihre Pixeldaten sollen erst hinter dem Dateiende beginnen");
    }
    constexpr qint64 kRle8 = 1;
    constexpr qint64 kRle4 = 2;
    // Rows are padded to 4 bytes; run-length coded data declare their size.
    const qint64 needed = compression == kRle8 || compression == kRle4
                              ? imageSize
                              : (std::max<qint64>(width, 0) * bits + 31) / 32 * 4 * height;
    if (pixelOffset + needed > fileSize) {
        return QStringLiteral("sie ist abgeschnitten (%1 Bytes Pixeldaten erwartet, %2 vorhanden)")
            .arg(needed)
            .arg(fileSize - pixelOffset);
    }
    return {};
}

} // namespace imaging::detail
