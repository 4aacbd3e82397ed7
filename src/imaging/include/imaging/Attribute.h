#pragma once

#include <QString>
#include <QStringList>

namespace imaging {

// The value of one attribute. A null attribute (absent from the image) is
// distinguishable from one that is present with an empty value.
class Attribute {
public:
    Attribute() = default;
    Attribute(bool present, const QStringList& values);
    bool isNull() const { return !m_present; }
    // All values joined by "\" (empty when null).
    QString value() const;
    // Value number k, 1-based; empty when there is no such value.
    QString valueNumber(int k) const;
    int valueCount() const { return static_cast<int>(m_values.size()); }

private:
    bool m_present = false;
    QStringList m_values;
};

} // namespace imaging
