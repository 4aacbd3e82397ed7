#include "ImageImpl.h"
#include "imaging/UidGenerator.h"

#include <QUuid>

#include <array>

namespace imaging {

namespace detail {

QString newUid() {
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    std::array<unsigned, 16> number{};
    for (int i = 0; i < 16; ++i) {
        number[static_cast<std::size_t>(i)] = static_cast<unsigned char>(bytes[i]);
    }
    // Long division by ten of the big-endian 128-bit number.
    QString digits;
    bool nonZero = true;
    while (nonZero) {
        unsigned remainder = 0;
        nonZero = false;
        for (unsigned& byte : number) {
            const unsigned current = remainder * 256 + byte;
            byte = current / 10;
            remainder = current % 10;
            nonZero = nonZero || byte != 0;
        }
        digits.prepend(QChar(u'0' + remainder));
    }
    return QStringLiteral("2.25.") + digits;
}

} // namespace detail

QString UidGenerator::newUid() {
    return detail::newUid();
}

} // namespace imaging
