#pragma once

// The toolkit's own work for the same files, with none of the program around
// it: the baselines the program's figures are divided by.

#include <QString>
#include <QStringList>

namespace baseline {

// Loads DCMTK's data dictionary, so that no figure times its one-time load.
void warmDictionary();

// Reads each file's header with DCMTK, stopping before the pixel data, and
// its Patient ID; returns how many IDs were read.
int readHeaders(const QStringList& paths);

// Decodes frame 1 of an image to 8-bit pixels: OpenJPEG on the first code
// stream of a JPEG 2000 file, DicomImage's render for every other one.
// Returns the number of bytes decoded; throws imaging::ImagingError.
qsizetype decodeFrame1(const QString& path);

} // namespace baseline
