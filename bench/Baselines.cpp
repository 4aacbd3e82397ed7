#include "Baselines.h"

#include "imaging/Imaging.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#include <openjpeg.h>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>

namespace baseline {

namespace {

[[noreturn]] void fail(const QString& path, const char* what) {
    throw imaging::ImagingError(QStringLiteral("%1: %2").arg(path, QLatin1String(what)));
}

// A JPEG 2000 code stream held in memory, read by OpenJPEG.
struct Memory {
    const Uint8* data;
    OPJ_SIZE_T size;
    OPJ_SIZE_T at = 0;
};

OPJ_SIZE_T readMemory(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* m = static_cast<Memory*>(user);
    const OPJ_SIZE_T n = std::min(bytes, m->size - m->at);
    if (n == 0)
        return static_cast<OPJ_SIZE_T>(-1);
    std::memcpy(buffer, m->data + m->at, n);
    m->at += n;
    return n;
}

OPJ_OFF_T skipMemory(OPJ_OFF_T bytes, void* user) {
    auto* m = static_cast<Memory*>(user);
    const OPJ_OFF_T to = std::clamp<OPJ_OFF_T>(static_cast<OPJ_OFF_T>(m->at) + bytes, 0,
                                               static_cast<OPJ_OFF_T>(m->size));
    const OPJ_OFF_T moved = to - static_cast<OPJ_OFF_T>(m->at);
    m->at = static_cast<OPJ_SIZE_T>(to);
    return moved;
}

OPJ_BOOL seekMemory(OPJ_OFF_T to, void* user) {
    auto* m = static_cast<Memory*>(user);
    if (to < 0 || static_cast<OPJ_SIZE_T>(to) > m->size)
        return OPJ_FALSE;
    m->at = static_cast<OPJ_SIZE_T>(to);
    return OPJ_TRUE;
}

qsizetype decodeJ2k(const QString& path, DcmPixelData& pixels, E_TransferSyntax xfer) {
    DcmPixelSequence* sequence = nullptr;
    DcmPixelItem* first = nullptr;
    Uint8* bytes = nullptr;
    if (pixels.getEncapsulatedRepresentation(xfer, nullptr, sequence).bad() ||
        sequence->getItem(first, 1).bad() || first->getUint8Array(bytes).bad() || !bytes)
        fail(path, "no first frame");
    Memory memory{bytes, first->getLength()};
    const bool jp2 = memory.size >= 12 && std::memcmp(bytes + 4, "jP  ", 4) == 0;
    const std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(
        opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K), opj_destroy_codec);
    const std::unique_ptr<opj_stream_t, decltype(&opj_stream_destroy)> stream(
        opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE), opj_stream_destroy);
    opj_stream_set_read_function(stream.get(), readMemory);
    opj_stream_set_skip_function(stream.get(), skipMemory);
    opj_stream_set_seek_function(stream.get(), seekMemory);
    opj_stream_set_user_data(stream.get(), &memory, nullptr);
    opj_stream_set_user_data_length(stream.get(), memory.size);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* raw = nullptr;
    if (!opj_setup_decoder(codec.get(), &parameters) ||
        !opj_read_header(stream.get(), codec.get(), &raw))
        fail(path, "no JPEG 2000 header");
    const std::unique_ptr<opj_image_t, decltype(&opj_image_destroy)> image(raw, opj_image_destroy);
    if (!opj_decode(codec.get(), stream.get(), image.get()) ||
        !opj_end_decompress(codec.get(), stream.get()))
        fail(path, "JPEG 2000 not decodable");
    // Interleaved 8-bit samples, as a display needs them.
    const qsizetype count = qsizetype(image->comps[0].w) * qsizetype(image->comps[0].h);
    QByteArray out(count * qsizetype(image->numcomps), Qt::Uninitialized);
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c)
        for (qsizetype i = 0; i < count; ++i)
            out[i * image->numcomps + c] = char(image->comps[c].data[i]);
    return out.size();
}

} // namespace

void warmDictionary() {
    if (!dcmDataDict.isDictionaryLoaded())
        throw imaging::ImagingError(QStringLiteral("DCMTK-Wörterbuch fehlt."));
}

int readHeaders(const QStringList& paths) {
    int read = 0;
    for (const QString& path : paths) {
        DcmFileFormat file;
        OFString id;
        if (file.loadFileUntilTag(QFile::encodeName(path).constData(), EXS_Unknown, EGL_noChange,
                                  DCM_MaxReadLength, ERM_autoDetect, DCM_PixelData)
                .good() &&
            file.getDataset()->findAndGetOFString(DCM_PatientID, id).good())
            ++read;
    }
    return read;
}

qsizetype decodeFrame1(const QString& path) {
    DcmFileFormat file;
    if (file.loadFile(QFile::encodeName(path).constData()).bad())
        fail(path, "not readable");
    DcmDataset& data = *file.getDataset();
    const E_TransferSyntax xfer = data.getOriginalXfer();
    if (xfer == EXS_JPEG2000LosslessOnly || xfer == EXS_JPEG2000) {
        DcmElement* element = nullptr;
        if (data.findAndGetElement(DCM_PixelData, element).bad())
            fail(path, "no pixel data");
        return decodeJ2k(path, *static_cast<DcmPixelData*>(element), xfer);
    }
    DicomImage image(&data, xfer, 0UL, 0UL, 1UL);
    if (image.getStatus() != EIS_Normal)
        fail(path, "not renderable");
    const unsigned long bytes = image.getOutputDataSize(8);
    if (!image.getOutputData(8) || bytes == 0)
        fail(path, "no frame 1");
    return qsizetype(bytes);
}

} // namespace baseline
