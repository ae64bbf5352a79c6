#include "dm/variant.h"

#include "dm/error.h"
#include "dm/text.h"

#include <charconv>
#include <cmath>

namespace dm {

namespace {

[[noreturn]] void nullConversion()
{
    throw Error(QStringLiteral("Invalid variant type conversion"));
}

[[noreturn]] void notAnInteger(const QString &text)
{
    throw Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

bool isFloating(const QVariant &value)
{
    const int type = value.typeId();
    return type == QMetaType::Double || type == QMetaType::Float;
}

bool isWholeNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

// The shortest decimal that reads back as the same double, never in exponent form.
QString doubleText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    char buffer[400];               // the longest fixed form of a double is about 330 characters
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

Variant Variant::fromQVariant(const QVariant &value)
{
    // Drivers report null as a typed null; one null keeps comparisons simple.
    if (value.isNull() || !value.isValid())
        return Variant();
    Variant result;
    result.m_value = value;
    return result;
}

qint32 Variant::asInteger() const
{
    if (isNull())
        nullConversion();
    if (m_value.typeId() == QMetaType::Int)
        return m_value.toInt();
    if (isWholeNumber(m_value)) {
        if (m_value.typeId() == QMetaType::ULongLong || m_value.typeId() == QMetaType::ULong) {
            const qulonglong v = m_value.toULongLong();
            if (v > qulonglong(INT32_MAX))
                notAnInteger(QString::number(v));
            return qint32(v);
        }
        const qlonglong v = m_value.toLongLong();
        if (v < INT32_MIN || v > INT32_MAX)
            notAnInteger(QString::number(v));
        return qint32(v);
    }
    if (isFloating(m_value)) {
        // A number the database computed: to the nearest integer, ties to even, as a
        // variant conversion rounds.
        const double v = std::nearbyint(m_value.toDouble());
        if (!(v >= double(INT32_MIN) && v <= double(INT32_MAX)))
            notAnInteger(asString());
        return qint32(v);
    }
    if (m_value.typeId() == QMetaType::Bool)
        return m_value.toBool() ? 1 : 0;
    return strToInt(asString());
}

QString Variant::asString() const
{
    if (isNull())
        nullConversion();
    switch (m_value.typeId()) {
    case QMetaType::QString:
        return m_value.toString();
    case QMetaType::QByteArray:
        return QString::fromUtf8(m_value.toByteArray());
    case QMetaType::Double:
    case QMetaType::Float:
        return doubleText(m_value.toDouble());
    default:
        break;
    }
    if (isWholeNumber(m_value)) {
        if (m_value.typeId() == QMetaType::ULongLong || m_value.typeId() == QMetaType::ULong)
            return QString::number(m_value.toULongLong());
        return QString::number(m_value.toLongLong());
    }
    if (m_value.canConvert<QString>())
        return m_value.toString();
    throw Error(QStringLiteral("Invalid variant type conversion"));
}

} // namespace dm
