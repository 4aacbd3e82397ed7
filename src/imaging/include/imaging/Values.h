#pragma once

// Checks of attribute values typed by the operator, by the toolkit's own rules.

#include <QString>

namespace imaging {

// True when text is a valid Decimal String (DS) with the value multiplicity
// vm ("1", "2", "1-n" ...): at most 16 characters per value, digits, sign,
// point and exponent only, values separated by "\".
bool isDecimalString(const QString& text, const QString& vm);

// True when text can be a Patient ID, a Long String (LO) of one value: at
// most 64 characters, no "\" (it would separate values) and no control
// characters. Empty is allowed.
bool isPatientId(const QString& text);

// What a Patient ID may hold, for the operator.
inline const QString kPatientIdRule =
    QStringLiteral("Eine Kuhnummer darf höchstens 64 Zeichen lang sein und weder einen "
                   "Backslash (\\) noch Steuerzeichen wie Zeilenumbruch oder Tabulator "
                   "enthalten.");

} // namespace imaging
