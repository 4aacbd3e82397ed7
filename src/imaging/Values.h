#pragma once

// Checks of attribute values typed by the operator, by the toolkit's own rules.

#include <QString>

namespace imaging {

// True when text is a valid Decimal String (DS) with the value multiplicity
// vm ("1", "2", "1-n" ...): at most 16 characters per value, digits, sign,
// point and exponent only, values separated by "\".
bool isDecimalString(const QString& text, const QString& vm);

} // namespace imaging
