#include "Values.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcvrds.h>

namespace imaging {

bool isDecimalString(const QString& text, const QString& vm) {
    const QByteArray bytes = text.toUtf8();
    return DcmDecimalString::checkStringValue(
               OFString(bytes.constData(), static_cast<size_t>(bytes.size())),
               OFString(vm.toLatin1().constData()))
        .good();
}

} // namespace imaging
