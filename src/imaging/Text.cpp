// Texts between Qt and the toolkit: file names, values and their character set.

#include "ImageImpl.h"
#include "imaging/ImagingError.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace imaging::detail {

OFFilename toFilename(const QString& path) {
#if defined(_WIN32) && defined(WIDE_CHAR_FILE_IO_FUNCTIONS)
    return OFFilename(reinterpret_cast<const wchar_t*>(path.utf16()), OFTrue);
#else
    return OFFilename(QFile::encodeName(path).constData(), OFTrue);
#endif
}

QString quoted(const QString& path) {
    return QStringLiteral("„%1“").arg(QDir::toNativeSeparators(path));
}

QString fromDicomText(const OFString& text) {
    const QByteArray bytes(text.c_str(), static_cast<qsizetype>(text.length()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes);
    }
    return decoded;
}

namespace {

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

void putText(DcmDataset& dataset, const DcmTag& tag, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    if (!isAscii(utf8)) {
        OFString charset;
        dataset.findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
        if (charset != "ISO_IR 192") {
            dataset.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        }
    }
    const OFCondition status =
        dataset.putAndInsertString(tag, utf8.constData(), static_cast<Uint32>(utf8.size()));
    if (status.bad()) {
        throw ImagingError(QStringLiteral("Der Wert „%1“ kann nicht in das Attribut (%2,%3) "
                                          "geschrieben werden: %4.")
                               .arg(value)
                               .arg(tag.getGroup(), 4, 16, QLatin1Char('0'))
                               .arg(tag.getElement(), 4, 16, QLatin1Char('0'))
                               .arg(causeOf(status)));
    }
}

} // namespace imaging::detail
