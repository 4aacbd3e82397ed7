#pragma once

// DICOM files for tests, written with DCMTK, and bitmaps to import.

#include <QList>
#include <QRgb>
#include <QString>

namespace fixtures {

struct DicomSpec {
    QString patientId;
    QString sopInstanceUid; // empty: generated
    QString pixelSpacing;   // empty: absent
    QString studyDate = "20261205";
    int width = 64;
    int height = 48;
};

// An 8-bit MONOCHROME2 ultrasound image, Part 10, Explicit VR Little Endian,
// whose pixels are patternValue().
void writeDicom(const QString& path, const DicomSpec& spec);

// Richer variants for the imaging tests.
enum class Encoding {
    ExplicitLittle,
    ImplicitLittle,
    ExplicitBig,
    Deflated,
    Rle,
    JpegBaseline,
    JpegExtended,
    JpegLossless,
    JpegLs,
    WithoutMeta,  // bare data set, Implicit VR Little Endian
    Jpeg2000Fake, // JPEG 2000 transfer syntax around bytes no decoder reads
};

enum class Colour { Monochrome2, Monochrome1, Rgb, YbrFull, YbrFull422, Palette };

// One entry of the Sequence of Ultrasound Regions (0018,6011).
struct UsRegion {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    int unitsY = 3; // 3: cm
    double deltaY = 0.05;
};

struct VariantSpec {
    DicomSpec base;
    Encoding encoding = Encoding::ExplicitLittle;
    Colour colour = Colour::Monochrome2;
    int bitsStored = 8; // 8, or 12 in 16-bit words (patternValue() * 16)
    int frames = 1;     // frame 2 onwards hold the inverted pattern
    bool pixelData = true;
    QString characterSet; // "ISO_IR 100": texts are written as Latin-1
    QString patientName;  // empty: patientId^patientId
    QString windowCenter;
    QString windowWidth;
    QList<UsRegion> regions;
};

void writeDicom(const QString& path, const VariantSpec& spec);

// The grey value of frame 1 at (x, y): a diagonal gradient from 0 at the
// top-left to 255 at the bottom-right corner.
int patternValue(int x, int y, int width, int height);
// The colour of frame 1 at (x, y) for the colour variants (the palette
// variant shows (v, 255 - v, 255) for the grey value v).
QRgb patternColour(int x, int y, int width, int height);

// Uncompressed Windows bitmaps for the import tests.
struct BmpSpec {
    int bits = 24;           // 1, 4, 8, 24 or 32
    bool greyPalette = true; // for 1, 4 and 8 bits: grey entries, else coloured ones
    bool topDown = false;    // negative height: first row on top
    int width = 13;          // odd, so rows need padding
    int height = 7;
};

void writeBmp(const QString& path, const BmpSpec& spec);
// The colour of pixel (x, y) of such a bitmap (row 0 on top).
QRgb bmpColour(const BmpSpec& spec, int x, int y);

} // namespace fixtures
