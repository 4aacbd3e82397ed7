#pragma once

#include <QByteArray>
#include <QString>

namespace imaging::detail {

// Why the bitmap's header does not fit the file (a German cause), or empty
// when it does: the pixel data must begin inside the file and, uncompressed,
// hold every row. Qt's reader fills missing rows with whatever memory holds.
QString bitmapTruncation(const QByteArray& head, qint64 fileSize);

} // namespace imaging::detail
