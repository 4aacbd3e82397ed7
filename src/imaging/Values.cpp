#include "imaging/Values.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcvrds.h>

#include <QList>

#include <algorithm>

namespace imaging {

bool isDecimalString(const QString& text, const QString& vm) {
    const QByteArray bytes = text.toUtf8();
    return DcmDecimalString::checkStringValue(
               OFString(bytes.constData(), static_cast<size_t>(bytes.size())),
               OFString(vm.toLatin1().constData()))
        .good();
}

bool isPatientId(const QString& text) {
    constexpr qsizetype kMaxCharacters = 64;
    const QList<uint> characters = text.toUcs4();
    if (characters.size() > kMaxCharacters)
        return false;
    return std::none_of(characters.begin(), characters.end(), [](uint c) {
        return c == '\\' || QChar::category(c) == QChar::Other_Control;
    });
}

} // namespace imaging
