#include "DicomFixtures.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpeg/djrploss.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <dcmtk/oflog/oflog.h>

#include <QFile>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace fixtures {

namespace {

void registerEncoders() {
    static std::once_flag once;
    std::call_once(once, [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
        DcmRLEEncoderRegistration::registerCodecs();
    });
}

void check(const OFCondition& status, const char* what) {
    if (status.bad()) {
        throw std::runtime_error(std::string(what) + ": " + status.text());
    }
}

QByteArray encodeText(const QString& text, const QString& characterSet) {
    return characterSet == QLatin1String("ISO_IR 100") ? text.toLatin1() : text.toUtf8();
}

void putText(DcmDataset& dataset, const DcmTagKey& key, const QString& text,
             const QString& characterSet = {}) {
    const QByteArray bytes = encodeText(text, characterSet);
    check(dataset.putAndInsertString(key, bytes.constData(), static_cast<Uint32>(bytes.size())),
          "put text");
}

// Full-range YCbCr of an RGB colour, rounded and clamped.
void toYbr(QRgb rgb, int& y, int& cb, int& cr) {
    const double r = qRed(rgb), g = qGreen(rgb), b = qBlue(rgb);
    const auto clamp = [](double v) { return std::clamp(static_cast<int>(v + 0.5), 0, 255); };
    y = clamp(0.299 * r + 0.587 * g + 0.114 * b);
    cb = clamp(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
    cr = clamp(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
}

int frameValue(int x, int y, int width, int height, int frame) {
    const int v = patternValue(x, y, width, height);
    return frame == 0 ? v : 255 - v;
}

void putPixels(DcmDataset& dataset, const VariantSpec& spec) {
    const int w = spec.base.width;
    const int h = spec.base.height;
    const std::size_t count = static_cast<std::size_t>(w) * h;
    if (spec.bitsStored > 8) {
        std::vector<Uint16> words;
        for (int f = 0; f < spec.frames; ++f) {
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    words.push_back(static_cast<Uint16>(frameValue(x, y, w, h, f) * 16));
                }
            }
        }
        check(dataset.putAndInsertUint16Array(DCM_PixelData, words.data(), words.size()),
              "pixel data");
        return;
    }
    std::vector<Uint8> bytes;
    bytes.reserve(count * 3 * static_cast<std::size_t>(spec.frames));
    for (int f = 0; f < spec.frames; ++f) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int v = frameValue(x, y, w, h, f);
                const QRgb rgb = patternColour(x, y, w, h);
                switch (spec.colour) {
                case Colour::Monochrome2:
                case Colour::Monochrome1:
                case Colour::Palette:
                    bytes.push_back(static_cast<Uint8>(v));
                    break;
                case Colour::Rgb:
                    bytes.push_back(static_cast<Uint8>(qRed(rgb)));
                    bytes.push_back(static_cast<Uint8>(qGreen(rgb)));
                    bytes.push_back(static_cast<Uint8>(qBlue(rgb)));
                    break;
                case Colour::YbrFull: {
                    int yy = 0, cb = 0, cr = 0;
                    toYbr(rgb, yy, cb, cr);
                    bytes.insert(bytes.end(), {static_cast<Uint8>(yy), static_cast<Uint8>(cb),
                                               static_cast<Uint8>(cr)});
                    break;
                }
                case Colour::YbrFull422:
                    // Pairs of pixels share their chroma: Y1 Y2 Cb Cr.
                    if (x % 2 == 0) {
                        int y1 = 0, cb1 = 0, cr1 = 0, y2 = 0, cb2 = 0, cr2 = 0;
                        toYbr(rgb, y1, cb1, cr1);
                        toYbr(patternColour(x + 1, y, w, h), y2, cb2, cr2);
                        bytes.insert(bytes.end(), {static_cast<Uint8>(y1), static_cast<Uint8>(y2),
                                                   static_cast<Uint8>((cb1 + cb2 + 1) / 2),
                                                   static_cast<Uint8>((cr1 + cr2 + 1) / 2)});
                    }
                    break;
                }
            }
        }
    }
    check(dataset.putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size()), "pixel data");
}

void putPixelDescription(DcmDataset& dataset, const VariantSpec& spec) {
    const bool colour = spec.colour == Colour::Rgb || spec.colour == Colour::YbrFull ||
                        spec.colour == Colour::YbrFull422;
    const char* photometric = "MONOCHROME2";
    switch (spec.colour) {
    case Colour::Monochrome2:
        break;
    case Colour::Monochrome1:
        photometric = "MONOCHROME1";
        break;
    case Colour::Rgb:
        photometric = "RGB";
        break;
    case Colour::YbrFull:
        photometric = "YBR_FULL";
        break;
    case Colour::YbrFull422:
        photometric = "YBR_FULL_422";
        break;
    case Colour::Palette:
        photometric = "PALETTE COLOR";
        break;
    }
    dataset.putAndInsertUint16(DCM_SamplesPerPixel, colour ? 3 : 1);
    dataset.putAndInsertString(DCM_PhotometricInterpretation, photometric);
    if (colour) {
        dataset.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    }
    dataset.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(spec.base.height));
    dataset.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(spec.base.width));
    const Uint16 allocated = spec.bitsStored > 8 ? 16 : 8;
    dataset.putAndInsertUint16(DCM_BitsAllocated, allocated);
    dataset.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(spec.bitsStored));
    dataset.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(spec.bitsStored - 1));
    dataset.putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (spec.frames > 1) {
        dataset.putAndInsertString(DCM_NumberOfFrames, QByteArray::number(spec.frames).constData());
    }
    if (spec.colour == Colour::Palette) {
        // Entry i is (i, 255 - i, 255), in 16-bit values.
        const Uint16 descriptor[3] = {256, 0, 16};
        std::vector<Uint16> red, green, blue;
        for (int i = 0; i < 256; ++i) {
            red.push_back(static_cast<Uint16>(i * 257));
            green.push_back(static_cast<Uint16>((255 - i) * 257));
            blue.push_back(0xFFFF);
        }
        dataset.putAndInsertUint16Array(DCM_RedPaletteColorLookupTableDescriptor, descriptor, 3);
        dataset.putAndInsertUint16Array(DCM_GreenPaletteColorLookupTableDescriptor, descriptor, 3);
        dataset.putAndInsertUint16Array(DCM_BluePaletteColorLookupTableDescriptor, descriptor, 3);
        dataset.putAndInsertUint16Array(DCM_RedPaletteColorLookupTableData, red.data(), 256);
        dataset.putAndInsertUint16Array(DCM_GreenPaletteColorLookupTableData, green.data(), 256);
        dataset.putAndInsertUint16Array(DCM_BluePaletteColorLookupTableData, blue.data(), 256);
    }
}

void putRegions(DcmDataset& dataset, const QList<UsRegion>& regions) {
    for (const UsRegion& r : regions) {
        DcmItem* item = nullptr;
        check(dataset.findOrCreateSequenceItem(DCM_SequenceOfUltrasoundRegions, item, -2),
              "region");
        item->putAndInsertUint16(DCM_RegionSpatialFormat, 1);
        item->putAndInsertUint16(DCM_RegionDataType, 1);
        item->putAndInsertUint32(DCM_RegionFlags, 0);
        item->putAndInsertUint32(DCM_RegionLocationMinX0, static_cast<Uint32>(r.x0));
        item->putAndInsertUint32(DCM_RegionLocationMinY0, static_cast<Uint32>(r.y0));
        item->putAndInsertUint32(DCM_RegionLocationMaxX1, static_cast<Uint32>(r.x1));
        item->putAndInsertUint32(DCM_RegionLocationMaxY1, static_cast<Uint32>(r.y1));
        item->putAndInsertUint16(DCM_PhysicalUnitsXDirection, static_cast<Uint16>(r.unitsY));
        item->putAndInsertUint16(DCM_PhysicalUnitsYDirection, static_cast<Uint16>(r.unitsY));
        item->putAndInsertFloat64(DCM_PhysicalDeltaX, r.deltaY);
        item->putAndInsertFloat64(DCM_PhysicalDeltaY, r.deltaY);
    }
}

// Wraps bytes that are no JPEG 2000 code stream in a JPEG 2000 pixel
// sequence: DCMTK writes it, but nothing can decode it.
void putFakeJpeg2000(DcmDataset& dataset) {
    auto* sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
    sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // empty offset table
    auto* fragment = new DcmPixelItem(DCM_PixelItemTag);
    const Uint8 bytes[8] = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x01, 0x02, 0x03};
    fragment->putUint8Array(bytes, sizeof bytes);
    sequence->insert(fragment);
    auto* pixels = new DcmPixelData(DCM_PixelData);
    pixels->putOriginalRepresentation(EXS_JPEG2000LosslessOnly, nullptr, sequence);
    dataset.insert(pixels, OFTrue);
}

} // namespace

int patternValue(int x, int y, int width, int height) {
    const int across = width > 1 ? x * 255 / (width - 1) : 0;
    const int down = height > 1 ? y * 255 / (height - 1) : 0;
    return (3 * across + down) / 4;
}

QRgb patternColour(int x, int y, int width, int height) {
    const int v = patternValue(x, y, width, height);
    const int down = height > 1 ? y * 255 / (height - 1) : 0;
    return qRgb(v, 255 - v, down);
}

namespace {

int paletteSize(const BmpSpec& spec) {
    return spec.bits <= 8 ? 1 << spec.bits : 0;
}

int bmpIndex(const BmpSpec& spec, int x, int y) {
    return (x + 3 * y) % paletteSize(spec);
}

// Entry i of the palette; grey entries run downwards, so an index is never
// mistaken for its grey value.
QRgb paletteEntry(const BmpSpec& spec, int i) {
    const int step = 255 / (paletteSize(spec) - 1);
    if (spec.greyPalette) {
        const int g = 255 - i * step;
        return qRgb(g, g, g);
    }
    return qRgb(i * step, 255 - i * step, 0x40);
}

void appendLe(QByteArray& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

} // namespace

QRgb bmpColour(const BmpSpec& spec, int x, int y) {
    if (spec.bits <= 8) {
        return paletteEntry(spec, bmpIndex(spec, x, y));
    }
    return qRgb((x * 37) & 0xFF, (y * 53) & 0xFF, (x * y * 11) & 0xFF);
}

void writeBmp(const QString& path, const BmpSpec& spec) {
    const int colours = paletteSize(spec);
    const int rowBytes = ((spec.width * spec.bits + 31) / 32) * 4;
    const quint32 offset = 14 + 40 + 4 * static_cast<quint32>(colours);
    const quint32 imageSize = static_cast<quint32>(rowBytes * spec.height);
    QByteArray out("BM");
    appendLe(out, offset + imageSize, 4);
    appendLe(out, 0, 4);
    appendLe(out, offset, 4);
    appendLe(out, 40, 4);
    appendLe(out, static_cast<quint32>(spec.width), 4);
    appendLe(out, static_cast<quint32>(spec.topDown ? -spec.height : spec.height), 4);
    appendLe(out, 1, 2);
    appendLe(out, static_cast<quint32>(spec.bits), 2);
    appendLe(out, 0, 4); // BI_RGB
    appendLe(out, imageSize, 4);
    appendLe(out, 2835, 4);
    appendLe(out, 2835, 4);
    appendLe(out, static_cast<quint32>(colours), 4);
    appendLe(out, 0, 4);
    for (int i = 0; i < colours; ++i) {
        const QRgb c = paletteEntry(spec, i);
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    for (int row = 0; row < spec.height; ++row) {
        const int y = spec.topDown ? row : spec.height - 1 - row;
        QByteArray line(rowBytes, '\0');
        for (int x = 0; x < spec.width; ++x) {
            if (spec.bits <= 8) {
                const int perByte = 8 / spec.bits;
                const int shift = 8 - spec.bits * (x % perByte + 1);
                line[x / perByte] =
                    static_cast<char>(line[x / perByte] | (bmpIndex(spec, x, y) << shift));
            } else {
                const QRgb c = bmpColour(spec, x, y);
                const int at = x * spec.bits / 8;
                line[at] = static_cast<char>(qBlue(c));
                line[at + 1] = static_cast<char>(qGreen(c));
                line[at + 2] = static_cast<char>(qRed(c));
            }
        }
        out.append(line);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
        throw std::runtime_error("cannot write bitmap " + path.toStdString());
    }
}

void writeDicom(const QString& path, const DicomSpec& spec) {
    VariantSpec variant;
    variant.base = spec;
    writeDicom(path, variant);
}

void writeDicom(const QString& path, const VariantSpec& spec) {
    registerEncoders();
    DcmFileFormat file;
    DcmDataset& dataset = *file.getDataset();
    if (!spec.characterSet.isEmpty()) {
        putText(dataset, DCM_SpecificCharacterSet, spec.characterSet);
    }
    char uid[100];
    dataset.putAndInsertString(DCM_SOPClassUID, UID_UltrasoundImageStorage);
    if (spec.base.sopInstanceUid.isEmpty()) {
        dataset.putAndInsertString(DCM_SOPInstanceUID,
                                   dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
    } else {
        putText(dataset, DCM_SOPInstanceUID, spec.base.sopInstanceUid);
    }
    dataset.putAndInsertString(DCM_StudyInstanceUID,
                               dcmGenerateUniqueIdentifier(uid, SITE_STUDY_UID_ROOT));
    dataset.putAndInsertString(DCM_SeriesInstanceUID,
                               dcmGenerateUniqueIdentifier(uid, SITE_SERIES_UID_ROOT));
    const QString name = spec.patientName.isEmpty()
                             ? spec.base.patientId + QLatin1Char('^') + spec.base.patientId
                             : spec.patientName;
    putText(dataset, DCM_PatientName, name, spec.characterSet);
    putText(dataset, DCM_PatientID, spec.base.patientId, spec.characterSet);
    putText(dataset, DCM_StudyDate, spec.base.studyDate);
    dataset.putAndInsertString(DCM_Modality, "US");
    putText(dataset, DCM_InstitutionName, QStringLiteral("Jungrind"));
    if (!spec.base.pixelSpacing.isEmpty()) {
        putText(dataset, DCM_PixelSpacing, spec.base.pixelSpacing);
    }
    if (!spec.windowCenter.isEmpty()) {
        putText(dataset, DCM_WindowCenter, spec.windowCenter);
        putText(dataset, DCM_WindowWidth, spec.windowWidth);
    }
    putRegions(dataset, spec.regions);
    putPixelDescription(dataset, spec);
    if (spec.pixelData) {
        if (spec.encoding == Encoding::Jpeg2000Fake) {
            putFakeJpeg2000(dataset);
        } else {
            putPixels(dataset, spec);
        }
    }

    E_TransferSyntax xfer = EXS_LittleEndianExplicit;
    E_FileWriteMode mode = EWM_createNewMeta;
    switch (spec.encoding) {
    case Encoding::ExplicitLittle:
        break;
    case Encoding::ImplicitLittle:
        xfer = EXS_LittleEndianImplicit;
        break;
    case Encoding::ExplicitBig:
        xfer = EXS_BigEndianExplicit;
        break;
    case Encoding::Deflated:
        xfer = EXS_DeflatedLittleEndianExplicit;
        break;
    case Encoding::Rle:
        xfer = EXS_RLELossless;
        break;
    case Encoding::JpegBaseline:
        xfer = EXS_JPEGProcess1;
        break;
    case Encoding::JpegExtended:
        xfer = EXS_JPEGProcess2_4;
        break;
    case Encoding::JpegLossless:
        xfer = EXS_JPEGProcess14SV1;
        break;
    case Encoding::JpegLs:
        xfer = EXS_JPEGLSLossless;
        break;
    case Encoding::WithoutMeta:
        xfer = EXS_LittleEndianImplicit;
        mode = EWM_dataset;
        break;
    case Encoding::Jpeg2000Fake:
        xfer = EXS_JPEG2000LosslessOnly;
        break;
    }
    const DJ_RPLossy lossy(90);
    const DJ_RPLossless lossless;
    const DJLSRepresentationParameter jpegLs;
    const DcmRepresentationParameter* parameter = nullptr;
    if (xfer == EXS_JPEGProcess1 || xfer == EXS_JPEGProcess2_4) {
        parameter = &lossy;
    } else if (xfer == EXS_JPEGProcess14SV1) {
        parameter = &lossless;
    } else if (xfer == EXS_JPEGLSLossless) {
        parameter = &jpegLs;
    }
    if (spec.pixelData && spec.encoding != Encoding::Jpeg2000Fake) {
        check(dataset.chooseRepresentation(xfer, parameter), "compress");
    }
    check(file.saveFile(QFile::encodeName(path).constData(), xfer, EET_ExplicitLength, EGL_recalcGL,
                        EPD_noChange, 0, 0, mode),
          "save");
}

} // namespace fixtures
