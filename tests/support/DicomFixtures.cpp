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
#include <dcmtk/dcmjpeg/djrploss.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <dcmtk/oflog/oflog.h>

#include <openjpeg.h>

#include <QDataStream>
#include <QFile>
#include <QTemporaryFile>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fixtures {

namespace {

void check(const OFCondition& status, const char* what) {
    if (status.bad())
        throw std::runtime_error(std::string(what) + ": " + status.text());
}

int paletteSize(const BmpSpec& bitmap) {
    return bitmap.bits <= 8 ? 1 << bitmap.bits : 0;
}

int bmpIndex(const BmpSpec& bitmap, int x, int y) {
    return (x + 3 * y) % paletteSize(bitmap);
}

// Grey entries run downwards, so an index is never mistaken for its grey value.
QRgb paletteEntry(const BmpSpec& bitmap, int i) {
    const int step = 255 / (paletteSize(bitmap) - 1);
    const int grey = 255 - i * step;
    return bitmap.greyPalette ? qRgb(grey, grey, grey) : qRgb(i * step, 255 - i * step, 0x40);
}

// One frame of interleaved samples as a JPEG 2000 code stream, RGB through
// the colour transform: reversible, or irreversible at a tenth of the size.
std::vector<Uint8> encodeJ2k(const Uint16* values, int width, int height, int samples, int bits,
                             bool lossy) {
    std::vector<opj_image_cmptparm_t> components(static_cast<std::size_t>(samples));
    for (opj_image_cmptparm_t& c : components) {
        c = {};
        c.dx = c.dy = 1;
        c.w = OPJ_UINT32(width);
        c.h = OPJ_UINT32(height);
        c.prec = OPJ_UINT32(bits);
    }
    const std::unique_ptr<opj_image_t, decltype(&opj_image_destroy)> image(
        opj_image_create(OPJ_UINT32(samples), components.data(),
                         samples == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY),
        opj_image_destroy);
    if (!image)
        throw std::runtime_error("opj_image_create");
    image->x1 = OPJ_UINT32(width);
    image->y1 = OPJ_UINT32(height);
    for (int p = 0; p < width * height; ++p)
        for (int c = 0; c < samples; ++c)
            image->comps[c].data[p] = OPJ_INT32(values[p * samples + c]);
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_mct = samples == 3 ? 1 : 0;
    if (lossy) {
        parameters.irreversible = 1;
        parameters.tcp_numlayers = 1;
        parameters.tcp_rates[0] = 10;
        parameters.cp_disto_alloc = 1;
    }
    const std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(
        opj_create_compress(OPJ_CODEC_J2K), opj_destroy_codec);
    QTemporaryFile file;
    if (!file.open())
        throw std::runtime_error("code stream file");
    std::unique_ptr<opj_stream_t, decltype(&opj_stream_destroy)> stream(
        opj_stream_create_default_file_stream(QFile::encodeName(file.fileName()).constData(),
                                              OPJ_FALSE),
        opj_stream_destroy);
    if (!opj_setup_encoder(codec.get(), &parameters, image.get()) ||
        !opj_start_compress(codec.get(), image.get(), stream.get()) ||
        !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get()))
        throw std::runtime_error("opj_encode");
    stream.reset(); // closes the file
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

} // namespace

int patternValue(int x, int y, int width, int height) {
    const int across = width > 1 ? x * 255 / (width - 1) : 0;
    const int down = height > 1 ? y * 255 / (height - 1) : 0;
    return (3 * across + down) / 4;
}

QRgb patternColour(int x, int y, int width, int height) {
    const int v = patternValue(x, y, width, height);
    return qRgb(v, 255 - v, height > 1 ? y * 255 / (height - 1) : 0);
}

void writeDicom(const QString& path, const DicomSpec& image) {
    writeVariant(path, VariantSpec{.base = image});
}

void writeVariant(const QString& path, const VariantSpec& variant) {
    static std::once_flag once;
    std::call_once(once, [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
        DcmRLEEncoderRegistration::registerCodecs();
    });
    DcmFileFormat file;
    DcmDataset& data = *file.getDataset();
    const auto put = [&data](const DcmTagKey& key, const QByteArray& value) {
        check(data.putAndInsertString(key, value.constData(), Uint32(value.size())), "put");
    };
    const auto putNumber = [&data](const DcmTagKey& key, int value) {
        check(data.putAndInsertUint16(key, Uint16(value)), "put");
    };
    const DicomSpec& base = variant.base;
    const bool latin1 = !variant.characterSet.isEmpty();
    const bool rgb = variant.colour == Colour::Rgb;
    char uid[100];
    if (latin1)
        put(DCM_SpecificCharacterSet, variant.characterSet.toLatin1());
    put(DCM_SOPClassUID, UID_UltrasoundImageStorage);
    put(DCM_SOPInstanceUID,
        base.sopInstanceUid.isEmpty()
            ? QByteArray(dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT))
            : base.sopInstanceUid.toLatin1());
    put(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_STUDY_UID_ROOT));
    put(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_SERIES_UID_ROOT));
    if (base.privateBytes > 0) {
        // Puts the Patient ID far from the start of the file.
        put(DcmTagKey(0x0009, 0x0010), "KALVARA TEST");
        const std::vector<Uint8> filler(std::size_t(base.privateBytes), 0x5A);
        check(data.putAndInsertUint8Array(DcmTag(0x0009, 0x1000, DcmVR(EVR_OB)), filler.data(),
                                          filler.size()),
              "private");
    }
    put(DCM_PatientName, (base.patientId + '^' + base.patientId).toUtf8());
    put(DCM_PatientID, latin1 ? base.patientId.toLatin1() : base.patientId.toUtf8());
    put(DCM_StudyDate, base.studyDate.toLatin1());
    put(DCM_Modality, "US");
    if (!base.pixelSpacing.isEmpty())
        put(DCM_PixelSpacing, base.pixelSpacing.toLatin1());
    for (const UsRegion& r : variant.regions) {
        DcmItem* item = nullptr;
        check(data.findOrCreateSequenceItem(DCM_SequenceOfUltrasoundRegions, item, -2), "region");
        item->putAndInsertUint16(DCM_RegionSpatialFormat, 1);
        item->putAndInsertUint16(DCM_RegionDataType, 1);
        item->putAndInsertUint32(DCM_RegionFlags, 0);
        item->putAndInsertUint32(DCM_RegionLocationMinX0, Uint32(r.x0));
        item->putAndInsertUint32(DCM_RegionLocationMinY0, Uint32(r.y0));
        item->putAndInsertUint32(DCM_RegionLocationMaxX1, Uint32(r.x1));
        item->putAndInsertUint32(DCM_RegionLocationMaxY1, Uint32(r.y1));
        item->putAndInsertUint16(DCM_PhysicalUnitsXDirection, Uint16(r.unitsY));
        item->putAndInsertUint16(DCM_PhysicalUnitsYDirection, Uint16(r.unitsY));
        item->putAndInsertFloat64(DCM_PhysicalDeltaX, r.deltaY);
        item->putAndInsertFloat64(DCM_PhysicalDeltaY, r.deltaY);
    }

    // JPEG 2000 colour goes through the colour transform of its kind.
    const bool lossy = variant.encoding == Encoding::Jpeg2000;
    const bool j2k = lossy || variant.encoding == Encoding::Jpeg2000Lossless;
    put(DCM_PhotometricInterpretation, !rgb    ? "MONOCHROME2"
                                       : lossy ? "YBR_ICT"
                                       : j2k   ? "YBR_RCT"
                                               : "RGB");
    putNumber(DCM_SamplesPerPixel, rgb ? 3 : 1);
    if (rgb)
        putNumber(DCM_PlanarConfiguration, 0);
    putNumber(DCM_Rows, base.height);
    putNumber(DCM_Columns, base.width);
    putNumber(DCM_BitsAllocated, variant.sixteenBit ? 16 : 8);
    putNumber(DCM_BitsStored, variant.sixteenBit ? 12 : 8);
    putNumber(DCM_HighBit, variant.sixteenBit ? 11 : 7);
    putNumber(DCM_PixelRepresentation, 0);
    if (variant.frames > 1)
        put(DCM_NumberOfFrames, QByteArray::number(variant.frames));
    std::vector<Uint16> values;
    for (int f = 0; f < variant.frames; ++f) {
        for (int y = 0; y < base.height; ++y) {
            for (int x = 0; x < base.width; ++x) {
                const int v = patternValue(x, y, base.width, base.height);
                const QRgb c = patternColour(x, y, base.width, base.height);
                if (rgb)
                    values.insert(values.end(),
                                  {Uint16(qRed(c)), Uint16(qGreen(c)), Uint16(qBlue(c))});
                else
                    values.push_back(
                        Uint16((f == 0 ? v : 255 - v) * (variant.sixteenBit ? 16 : 1)));
            }
        }
    }
    const std::vector<Uint8> bytes(values.begin(), values.end());
    if (variant.pixelData && variant.sixteenBit)
        check(data.putAndInsertUint16Array(DCM_PixelData, values.data(), values.size()), "pixels");
    else if (variant.pixelData)
        check(data.putAndInsertUint8Array(DCM_PixelData, bytes.data(), bytes.size()), "pixels");

    const DJ_RPLossy jpeg;
    const DJLSRepresentationParameter jpegLs;
    const std::pair<E_TransferSyntax, const DcmRepresentationParameter*> codings[] = {
        {EXS_LittleEndianExplicit, nullptr},
        {EXS_BigEndianExplicit, nullptr},
        {EXS_RLELossless, nullptr},
        {EXS_JPEGProcess1, &jpeg},
        {EXS_JPEGLSLossless, &jpegLs},
        {EXS_LittleEndianImplicit, nullptr},
        {EXS_JPEG2000LosslessOnly, nullptr},
        {EXS_JPEG2000, nullptr},
        {EXS_DeflatedLittleEndianExplicit, nullptr}};
    const auto [xfer, parameter] = codings[int(variant.encoding)];
    if (variant.pixelData && j2k) {
        const int samples = rgb ? 3 : 1;
        const std::size_t frameSize = std::size_t(base.width * base.height * samples);
        auto* sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // empty offset table
        DcmOffsetList offsets;
        for (int f = 0; f < variant.frames; ++f) {
            std::vector<Uint8> stream =
                encodeJ2k(values.data() + f * frameSize, base.width, base.height, samples,
                          variant.sixteenBit ? 12 : 8, lossy);
            stream.resize(stream.size() - std::size_t(variant.streamCut));
            check(sequence->storeCompressedFrame(offsets, stream.data(), Uint32(stream.size()), 0),
                  "frame");
        }
        auto* pixels = new DcmPixelData(DCM_PixelData);
        pixels->putOriginalRepresentation(xfer, nullptr, sequence);
        check(data.insert(pixels, true), "pixels");
    } else if (variant.pixelData) {
        check(data.chooseRepresentation(xfer, parameter), "compress");
    }
    check(file.saveFile(QFile::encodeName(path).constData(), xfer, EET_ExplicitLength, EGL_recalcGL,
                        EPD_noChange, 0, 0, variant.meta ? EWM_fileformat : EWM_dataset),
          "save");
}

QRgb bmpColour(const BmpSpec& bitmap, int x, int y) {
    if (bitmap.bits <= 8)
        return paletteEntry(bitmap, bmpIndex(bitmap, x, y));
    return qRgb((x * 37) & 0xFF, (y * 53) & 0xFF, (x * y * 11) & 0xFF);
}

void writeBmp(const QString& path, const BmpSpec& bitmap) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write bitmap " + path.toStdString());
    const int colours = paletteSize(bitmap);
    const int rowBytes = (bitmap.width * bitmap.bits + 31) / 32 * 4;
    const quint32 offset = 14 + 40 + 4 * quint32(colours);
    const quint32 size = quint32(rowBytes * bitmap.height);
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << offset + size << quint32(0) << offset << quint32(40) << qint32(bitmap.width)
        << qint32(bitmap.topDown ? -bitmap.height : bitmap.height) << quint16(1)
        << quint16(bitmap.bits) << quint32(0) << size << qint32(2835) << qint32(2835)
        << quint32(colours) << quint32(0);
    for (int i = 0; i < colours; ++i)
        out << quint32(paletteEntry(bitmap, i) & 0xFFFFFF); // B, G, R, 0
    for (int row = 0; row < bitmap.height; ++row) {
        const int y = bitmap.topDown ? row : bitmap.height - 1 - row;
        QByteArray line(rowBytes, '\0');
        for (int x = 0; x < bitmap.width; ++x) {
            const int perByte = 8 / bitmap.bits; // 0 from 24 bits on
            if (perByte > 0) {
                const int shift = 8 - bitmap.bits * (x % perByte + 1);
                line[x / perByte] = char(line[x / perByte] | bmpIndex(bitmap, x, y) << shift);
            } else {
                const QRgb c = bmpColour(bitmap, x, y);
                const char bgr[] = {char(qBlue(c)), char(qGreen(c)), char(qRed(c))};
                line.replace(x * bitmap.bits / 8, 3, bgr, 3);
            }
        }
        out.writeRawData(line.constData(), rowBytes);
    }
}

} // namespace fixtures
