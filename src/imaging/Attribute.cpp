#include "imaging/Attribute.h"

namespace imaging {

Attribute::Attribute(bool present, const QStringList& values)
    : m_present(present), m_values(present ? values : QStringList()) {}

QString Attribute::value() const {
    return m_values.join(QLatin1Char('\\'));
}

QString Attribute::valueNumber(int k) const {
    if (k < 1 || k > m_values.size()) {
        return {};
    }
    return m_values.at(k - 1);
}

} // namespace imaging
