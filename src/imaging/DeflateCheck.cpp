// A deflated data set is measured as it inflates, before it is read whole.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QFile>

#include <array>

namespace imaging::detail {

void checkInflatedSize(const QString& path, qint64 limit) {
    DcmInputFileStream stream(toFilename(path));
    if (!stream.good()) {
        return; // the read itself reports a file it cannot open
    }
    DcmMetaInfo meta;
    meta.transferInit();
    const OFCondition status = meta.read(stream, EXS_Unknown, EGL_noChange, 1024);
    meta.transferEnd();
    OFString syntax;
    if (status.bad() || meta.findAndGetOFString(DCM_TransferSyntaxUID, syntax).bad() ||
        syntax != UID_DeflatedExplicitVRLittleEndianTransferSyntax) {
        return;
    }
    // Inflated in small pieces and counted: the data set is refused before
    // it is held in memory whole.
    if (stream.installCompressionFilter(ESC_zlib).bad()) {
        return;
    }
    std::array<char, 64 * 1024> buffer{};
    qint64 inflated = 0;
    while (stream.good() && !stream.eos()) {
        const offile_off_t read = stream.read(buffer.data(), offile_off_t(buffer.size()));
        if (read <= 0) {
            return;
        }
        inflated += read;
        if (inflated > limit) {
            throw ImagingError(QStringLiteral("Die Datei %1 wird nicht gelesen: entpackt wäre sie "
                                              "größer als %2 MB und damit kein Ultraschallbild.")
                                   .arg(quoted(path))
                                   .arg(limit >> 20));
        }
    }
}

bool mayBeDeflated(const QString& path) {
    // Meta information of ordinary length fits well within the first page.
    constexpr qint64 kHeadBytes = 4096;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return true; // the full check and the read report it
    }
    const QByteArray head = file.read(kHeadBytes);
    DcmInputBufferStream stream;
    stream.setBuffer(head.constData(), offile_off_t(head.size()));
    stream.setEos();
    DcmMetaInfo meta;
    meta.transferInit();
    const OFCondition status = meta.read(stream, EXS_Unknown, EGL_noChange, 1024);
    meta.transferEnd();
    stream.releaseBuffer();
    OFString syntax;
    return status.bad() || (meta.findAndGetOFString(DCM_TransferSyntaxUID, syntax).good() &&
                            syntax == UID_DeflatedExplicitVRLittleEndianTransferSyntax);
}

} // namespace imaging::detail
