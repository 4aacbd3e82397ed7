// The causes of failed file operations in German, for the boundary's
// messages. The toolkit and the C library describe them in English; their
// own text is kept only where no German cause fits.

#include "ImageImpl.h"

#include <dcmtk/dcmdata/dcerror.h>

#include <cerrno>
#include <cstring>

namespace imaging::detail {

QString damagedCause() {
    return QStringLiteral("die Datei ist beschädigt oder abgeschnitten");
}

QString memoryCause() {
    return QStringLiteral("nicht genug Arbeitsspeicher");
}

namespace {

QString errnoCause(int code) {
    switch (code) {
    case ENOENT:
        return QStringLiteral("die Datei oder ihr Ordner existiert nicht");
    case EACCES:
    case EPERM:
        return QStringLiteral("keine Berechtigung");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("der Datenträger ist voll");
    case EFBIG:
        return QStringLiteral("die Datei wäre größer, als das System erlaubt");
    case EROFS:
        return QStringLiteral("der Datenträger ist schreibgeschützt");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("die Datei wird von einem anderen Programm verwendet");
    case EIO:
        return QStringLiteral("der Datenträger meldet einen Lesefehler oder Schreibfehler");
    case EISDIR:
        return QStringLiteral("der Pfad ist ein Ordner");
    case ENAMETOOLONG:
        return QStringLiteral("der Pfad ist zu lang");
    case ENOMEM:
        return memoryCause();
    default:
        return {};
    }
}

// The error numbers the toolkit reports by their C library text.
constexpr int kKnownErrors[] = {ENOENT, EACCES,  EPERM, ENOSPC, EDQUOT,       EFBIG, EROFS,
                                EBUSY,  ETXTBSY, EIO,   EISDIR, ENAMETOOLONG, ENOMEM};

} // namespace

QString causeOf(const OFCondition& status) {
    const OFConditionConst* damaged[] = {&EC_StreamNotifyClient,
                                         &EC_EndOfStream,
                                         &EC_InvalidStream,
                                         &EC_CorruptedData,
                                         &EC_InvalidTag,
                                         &EC_InvalidVR,
                                         &EC_UnknownVR,
                                         &EC_SequEnd,
                                         &EC_ItemEnd,
                                         &EC_ElemLengthLargerThanItem,
                                         &EC_SeqOrItemContentOverflow,
                                         &EC_SequDelimitationItemMissing,
                                         &EC_ItemDelimitationItemMissing,
                                         &EC_PrematureSequDelimitationItem,
                                         &EC_UndefinedLengthOBOW,
                                         &EC_PixelDataExplLengthIllegal,
                                         &EC_InvalidBasicOffsetTable,
                                         &EC_InvalidOffset,
                                         &EC_TooManyBytesRequested,
                                         &EC_InvalidValue,
                                         &EC_CannotChangeRepresentation};
    for (const OFConditionConst* known : damaged) {
        if (status == OFCondition(*known)) {
            return damagedCause();
        }
    }
    if (status == EC_MemoryExhausted) {
        return memoryCause();
    }
    if (status == EC_UnsupportedEncoding || status == EC_UnknownTransferSyntax) {
        return QStringLiteral("die Kodierung der Datei wird nicht unterstützt");
    }
    if (status == EC_FileMetaInfoHeaderMissing) {
        return QStringLiteral("sie ist keine DICOM-Datei");
    }
    if (status == EC_InvalidFilename) {
        return QStringLiteral("der Dateiname ist ungültig");
    }
    // File streams report the C library's text of the error number.
    const char* text = status.text();
    for (const int code : kKnownErrors) {
        if (std::strcmp(text, std::strerror(code)) == 0) {
            return errnoCause(code);
        }
    }
    return QString::fromLocal8Bit(text);
}

QString causeOf(const std::error_code& error) {
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        QString german = errnoCause(error.value());
        if (!german.isEmpty()) {
            return german;
        }
    }
    return QString::fromLocal8Bit(error.message());
}

} // namespace imaging::detail
