#include "Durable.h"
#include "ImageImpl.h"
#include "imaging/ImagingError.h"
#include "imaging/Initialise.h"
#include "modGlobal.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace imaging {

namespace {

// Removes a temporary file unless it was handed over to its target.
class TemporaryPath {
public:
    explicit TemporaryPath(QString path) : m_path(std::move(path)) {}
    ~TemporaryPath() {
        if (!m_released) {
            QFile::remove(m_path);
        }
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;
    const QString& path() const { return m_path; }
    void release() { m_released = true; }

private:
    QString m_path;
    bool m_released = false;
};

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
    if (dataset.chooseRepresentation(transferSyntax, nullptr).bad() ||
        !dataset.canWriteXfer(transferSyntax)) {
        throw ImagingError(
            writeError(path, QStringLiteral("die Pixeldaten können nicht dekomprimiert werden")));
    }
    // The file is completed under a temporary name beside the target and
    // only then renamed over it, so a failed write never destroys a file.
    // Temporary files left there by an interrupted write go first.
    durable::removeStaleTemporaries(folder);
    TemporaryPath temporary(durable::temporaryPathFor(path));
    const OFCondition status =
        d->file.saveFile(detail::toFilename(temporary.path()), transferSyntax, EET_ExplicitLength,
                         EGL_withoutGL, EPD_noChange, 0, 0, flag ? EWM_createNewMeta : EWM_dataset);
    if (status.bad()) {
        throw ImagingError(writeError(path, detail::causeOf(status)));
    }
    // The toolkit does not report an error of the final flush (disk full,
    // size limit), so a short file is caught by its size before it can
    // replace the target.
    const qint64 expected =
        static_cast<qint64>(d->file.calcElementLength(transferSyntax, EET_ExplicitLength));
    if (QFileInfo(temporary.path()).size() != expected) {
        throw ImagingError(
            writeError(path, QStringLiteral("die Datei wurde nicht vollständig geschrieben")));
    }
    // On disk before it replaces the target, and the rename on disk before
    // the caller deletes anything on the strength of it.
    try {
        durable::syncFile(temporary.path());
    } catch (const modGlobal::FileSystemError& e) {
        throw ImagingError(writeError(path, e.cause()));
    }
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(temporary.path().toStdU16String()),
                            std::filesystem::path(info.absoluteFilePath().toStdU16String()), error);
    if (error) {
        throw ImagingError(writeError(path, detail::causeOf(error)));
    }
    temporary.release();
    try {
        durable::syncFolder(folder);
    } catch (const modGlobal::FileSystemError& e) {
        throw ImagingError(writeError(path, e.cause()));
    }
}

} // namespace imaging
