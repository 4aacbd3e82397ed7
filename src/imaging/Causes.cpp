// The causes of failed toolkit operations in German, for the boundary's
// messages. The toolkit describes them in English, file errors by the C
// library's text; its own text is kept only where no German cause fits.

#include "ImageImpl.h"

#include "core/Causes.h"

#include <dcmtk/dcmdata/dcerror.h>

#include <cerrno>

namespace imaging::detail {

QString damagedCause() {
    return QStringLiteral("die Datei ist beschädigt oder abgeschnitten");
}

QString memoryCause() {
    return core::systemCausePhrase(ENOMEM);
}

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
    const QString german = core::systemCausePhrase(core::errorNumberOfText(status.text()));
    if (!german.isEmpty()) {
        return german;
    }
    return QString::fromLocal8Bit(status.text());
}

} // namespace imaging::detail
