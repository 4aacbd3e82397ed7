#include "core/Causes.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

namespace core {

namespace {

struct KnownCause {
    int errorNumber;
    const char* english; // Qt's own text for it, where Qt has one
    const char* sentence;
    const char* phrase; // null where a message keeps the system's text
};

// The common causes of a failed file operation. Qt reports EACCES, EMFILE,
// ENOENT and ENOSPC in English whatever the locale; other errors in the C
// library's words.
const KnownCause kCauses[] = {
    {EACCES, "Permission denied", "Es fehlt die Berechtigung für diesen Zugriff.",
     "keine Berechtigung"},
    {EPERM, nullptr, "Es fehlt die Berechtigung für diesen Zugriff.", "keine Berechtigung"},
    {ENOSPC, "No space left on device", "Der Datenträger ist voll.", "der Datenträger ist voll"},
#ifdef EDQUOT
    {EDQUOT, nullptr, "Der Datenträger ist voll (der erlaubte Speicherplatz ist ausgeschöpft).",
     "der Datenträger ist voll"},
#endif
    {EFBIG, nullptr, "Die Datei wird zu groß für den Datenträger oder die erlaubte Dateigröße.",
     "die Datei wäre größer, als das System erlaubt"},
    {ENOENT, "No such file or directory", "Die Datei oder der Ordner ist nicht vorhanden.",
     "die Datei oder ihr Ordner existiert nicht"},
    {ENOTDIR, nullptr, "Ein Teil des Pfades ist kein Ordner, sondern eine Datei.", nullptr},
    {EISDIR, nullptr, "An dieser Stelle steht ein Ordner, keine Datei.", "der Pfad ist ein Ordner"},
    {EEXIST, nullptr, "Das Ziel besteht bereits.", nullptr},
    {ENOTEMPTY, nullptr, "Der Ordner ist nicht leer.", nullptr},
    {EBUSY, nullptr, "Die Datei ist von einem anderen Programm in Gebrauch.",
     "die Datei wird von einem anderen Programm verwendet"},
    {ETXTBSY, nullptr, "Die Datei ist von einem anderen Programm in Gebrauch.",
     "die Datei wird von einem anderen Programm verwendet"},
    {EROFS, nullptr, "Der Datenträger ist schreibgeschützt.",
     "der Datenträger ist schreibgeschützt"},
    {EIO, nullptr,
     "Der Datenträger meldet einen Lese- oder Schreibfehler; er ist vielleicht beschädigt "
     "oder nicht mehr verbunden.",
     "der Datenträger meldet einen Lesefehler oder Schreibfehler"},
    {ENAMETOOLONG, nullptr, "Der Name oder Pfad ist zu lang.", "der Pfad ist zu lang"},
    {EMFILE, "Too many open files", "Es sind zu viele Dateien gleichzeitig geöffnet.", nullptr},
    {ENFILE, nullptr, "Es sind zu viele Dateien gleichzeitig geöffnet.", nullptr},
    {ENOMEM, nullptr, "Es ist nicht genügend Arbeitsspeicher frei.", "nicht genug Arbeitsspeicher"},
    {EXDEV, nullptr, "Das Ziel liegt auf einem anderen Datenträger.", nullptr},
};

const KnownCause* find(int errorNumber) {
    for (const KnownCause& known : kCauses)
        if (known.errorNumber == errorNumber)
            return &known;
    return nullptr;
}

QString systemText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

} // namespace

QString systemCause(int errorNumber) {
    if (const KnownCause* known = find(errorNumber))
        return QString::fromUtf8(known->sentence);
    return QStringLiteral("Das System meldet: \u201E%1\u201C.").arg(systemText(errorNumber));
}

QString fileCause(const QFileDevice& file) {
    const QString text = file.errorString();
    for (const KnownCause& known : kCauses)
        if ((known.english && text.contains(QLatin1String(known.english))) ||
            text.contains(systemText(known.errorNumber)))
            return QString::fromUtf8(known.sentence);
    // A write cut short sets no error, or one without an error number; a full
    // medium or the file-size limit is what cuts it.
    if (file.error() == QFileDevice::NoError || file.error() == QFileDevice::WriteError)
        return QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden; der "
                              "Datenträger ist vermutlich voll.");
    return QStringLiteral("Das System meldet: \u201E%1\u201C.").arg(text);
}

QString systemCausePhrase(int errorNumber) {
    const KnownCause* known = find(errorNumber);
    return known && known->phrase ? QString::fromUtf8(known->phrase) : QString();
}

int errorNumberOfText(const char* text) {
    for (const KnownCause& known : kCauses)
        if (std::strcmp(text, std::strerror(known.errorNumber)) == 0)
            return known.errorNumber;
    return 0;
}

} // namespace core
