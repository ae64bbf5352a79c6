#include "dm/text.h"

#include "dm/error.h"

namespace dm {

QString trimText(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

qint32 strToInt(const QString &text)
{
    const QString trimmed = trimText(text);
    qint64 value = 0;
    qsizetype i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed.at(i) == u'+' || trimmed.at(i) == u'-'))
        negative = trimmed.at(i++) == u'-';
    const bool hasDigits = i < trimmed.size();
    for (; i < trimmed.size(); ++i) {
        const char16_t c = trimmed.at(i).unicode();
        // Only ASCII digits: full-width digits are not a number here.
        if (c < u'0' || c > u'9' || value > (qint64(1) << 32))
            break;
        value = value * 10 + (c - u'0');
    }
    if (negative)
        value = -value;
    if (!hasDigits || i != trimmed.size() || value > INT32_MAX || value < INT32_MIN)
        throw Error(QStringLiteral("'%1' is not a valid integer value").arg(trimmed));
    return qint32(value);
}

} // namespace dm
