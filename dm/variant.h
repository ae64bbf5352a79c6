#pragma once

#include <QString>
#include <QVariant>

namespace dm {

// A field or parameter value: null, a signed 32-bit integer, a text, or a number the
// database computed. Converting null fails with "Invalid variant type conversion".
class Variant
{
public:
    Variant() = default;
    Variant(qint32 value) : m_value(value) {}
    Variant(const QString &value) : m_value(value) {}
    Variant(const char *value) : m_value(QString::fromUtf8(value)) {}
    static Variant fromQVariant(const QVariant &value);

    bool isNull() const { return m_value.isNull() || !m_value.isValid(); }
    qint32 asInteger() const; // throws dm::Error
    QString asString() const; // throws dm::Error
    const QVariant &toQVariant() const { return m_value; }

    friend bool operator==(const Variant &a, const Variant &b) { return a.m_value == b.m_value; }

private:
    QVariant m_value;
};

} // namespace dm
