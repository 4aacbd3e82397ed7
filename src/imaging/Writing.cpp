#include "ImageImpl.h"
#include "core/AtomicFile.h"
#include "imaging/ImagingError.h"
#include "imaging/Initialise.h"

#include <QFile>
#include <QFileInfo>

namespace imaging {

namespace {

QString writeError(const QString& path, const QString& cause) {
    return QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2.")
        .arg(detail::quoted(path), cause);
}

} // namespace

void Image::write(const QString& path, bool flag) const {
    initialise();
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        throw ImagingError(writeError(
            path, QStringLiteral("der Ordner %1 existiert nicht").arg(detail::quoted(folder))));
    }
    // With the flag: a DICOM file with file meta information. Without: the
    // bare data set in the default transfer syntax, readable without meta.
    const E_TransferSyntax transferSyntax =
        flag ? EXS_LittleEndianExplicit : EXS_LittleEndianImplicit;
    DcmDataset& dataset = d->dataset();
    // Frames the toolkit cannot decode are given native pixels first.
    const QString undecodable = detail::decodeJpeg2000(dataset);
    if (!undecodable.isEmpty()) {
        throw ImagingError(writeError(path, undecodable));
    }
    if (dataset.chooseRepresentation(transferSyntax, nullptr).bad() ||
        !dataset.canWriteXfer(transferSyntax)) {
        throw ImagingError(
            writeError(path, QStringLiteral("die Pixeldaten können nicht dekomprimiert werden")));
    }
    // The file is completed under a temporary name beside the target and
    // only then replaces it, so a failed write never destroys a file.
    // Temporary files left there by an interrupted write go first.
    core::removeStaleTemporaries(folder);
    try {
        core::replaceFile(info.absoluteFilePath(), [&](const QString& temporary) {
            const OFCondition status = d->file.saveFile(
                detail::toFilename(temporary), transferSyntax, EET_ExplicitLength, EGL_withoutGL,
                EPD_noChange, 0, 0, flag ? EWM_createNewMeta : EWM_dataset);
            if (status.bad()) {
                throw ImagingError(writeError(path, detail::causeOf(status)));
            }
            // The toolkit does not report an error of the final flush (disk
            // full, size limit), so a short file is caught by its size
            // before it can replace the target.
            const qint64 expected =
                static_cast<qint64>(d->file.calcElementLength(transferSyntax, EET_ExplicitLength));
            if (QFileInfo(temporary).size() != expected) {
                throw ImagingError(writeError(
                    path, QStringLiteral("die Datei wurde nicht vollständig geschrieben")));
            }
        });
    } catch (const core::FileSystemError& e) {
        // The cause is a sentence of its own.
        throw ImagingError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden. %2")
                               .arg(detail::quoted(path), e.cause()));
    }
}

} // namespace imaging
