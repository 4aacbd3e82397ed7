#pragma once

// DICOM files for tests, written with DCMTK, and bitmaps to import.

#include <QList>
#include <QRgb>
#include <QString>

namespace fixtures {

// Every member has an initializer, so designated initializers may leave any out.
struct DicomSpec {
    QString patientId{};
    QString sopInstanceUid{}; // empty: generated
    QString pixelSpacing{};   // empty: absent
    QString studyDate = "20261205";
    int width = 64;
    int height = 48;
    int privateBytes = 0; // > 0: a private OB value of this size in group 0009
};

// An 8-bit MONOCHROME2 ultrasound image, Part 10, Explicit VR Little Endian,
// whose pixels are patternValue().
void writeDicom(const QString& path, const DicomSpec& image);

enum class Encoding {
    ExplicitLittle,
    ExplicitBig,
    Rle,
    JpegBaseline,
    JpegLs,
    ImplicitLittle,
    Jpeg2000Lossless,
    Jpeg2000, // irreversible: RGB through the irreversible colour transform
    Deflated  // Deflated Explicit VR Little Endian
};
enum class Colour { Monochrome2, Rgb };

// One entry of the Sequence of Ultrasound Regions; units 3 are cm.
struct UsRegion {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0, unitsY = 3;
    double deltaY = 0.05;
};

// The image above in other encodings and colour models.
struct VariantSpec {
    DicomSpec base{.patientId = "4711"};
    Encoding encoding = Encoding::ExplicitLittle;
    Colour colour = Colour::Monochrome2;
    bool sixteenBit = false; // 12 bits stored: patternValue() * 16
    int frames = 1;          // later frames hold the inverted pattern
    bool pixelData = true;
    QString characterSet{}; // "ISO_IR 100": the Patient ID is written as Latin-1
    QList<UsRegion> regions{};
    bool meta = true;  // false: the bare data set, without preamble and file meta information
    int streamCut = 0; // JPEG 2000 lossless: bytes cut off the end of each code stream
};

void writeVariant(const QString& path, const VariantSpec& variant);

// The grey value of frame 1 at (x, y): a diagonal gradient from 0 at the
// top-left to 255 at the bottom-right corner.
int patternValue(int x, int y, int width, int height);
// The colour of frame 1 at (x, y) in the RGB variants.
QRgb patternColour(int x, int y, int width, int height);

// Uncompressed Windows bitmaps for the import tests.
struct BmpSpec {
    int bits = 24;           // 1, 4, 8, 24 or 32
    bool greyPalette = true; // for 1, 4 and 8 bits: grey entries, else coloured ones
    bool topDown = false;    // negative height: first row on top
    int width = 13;          // odd, so rows need padding
    int height = 7;
};

void writeBmp(const QString& path, const BmpSpec& bitmap);
// The colour of pixel (x, y) of such a bitmap (row 0 on top).
QRgb bmpColour(const BmpSpec& bitmap, int x, int y);

} // namespace fixtures
