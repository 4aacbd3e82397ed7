#pragma once

#include <QString>

namespace imaging {

class UidGenerator {
public:
    // "2.25." + a fresh random 128-bit UUID as a decimal number.
    QString newUid();
};

} // namespace imaging
