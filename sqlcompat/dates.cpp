#include "sqlcompat/dates.h"

#include <cmath>
#include <cstdio>

namespace sqlcompat {

namespace {

struct PartName
{
    const char16_t *name;
    DatePart part;
};

constexpr PartName PartNames[] = {
    {u"year", DatePart::Year},       {u"yy", DatePart::Year},
    {u"yyyy", DatePart::Year},       {u"quarter", DatePart::Quarter},
    {u"qq", DatePart::Quarter},      {u"q", DatePart::Quarter},
    {u"month", DatePart::Month},     {u"mm", DatePart::Month},
    {u"m", DatePart::Month},         {u"dayofyear", DatePart::DayOfYear},
    {u"dy", DatePart::DayOfYear},    {u"y", DatePart::DayOfYear},
    {u"day", DatePart::Day},         {u"dd", DatePart::Day},
    {u"d", DatePart::Day},           {u"week", DatePart::Week},
    {u"wk", DatePart::Week},         {u"ww", DatePart::Week},
    {u"weekday", DatePart::Weekday}, {u"dw", DatePart::Weekday},
    {u"w", DatePart::Weekday},       {u"hour", DatePart::Hour},
    {u"hh", DatePart::Hour},         {u"minute", DatePart::Minute},
    {u"mi", DatePart::Minute},       {u"n", DatePart::Minute},
    {u"second", DatePart::Second},   {u"ss", DatePart::Second},
    {u"s", DatePart::Second},        {u"millisecond", DatePart::Millisecond},
    {u"ms", DatePart::Millisecond},  {u"iso_week", DatePart::IsoWeek},
    {u"isowk", DatePart::IsoWeek},   {u"isoww", DatePart::IsoWeek},
};

bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
long daysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(long days, DateTime &out)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long shifted = (5 * dayOfYear + 2) / 153;
    out.day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    out.month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    out.year = int(yearOfEra + era * 400 + (out.month <= 2));
}

// 0 = Sunday.
int weekdayOf(long days)
{
    return int(((days + 4) % 7 + 7) % 7);
}

int dayOfYear(const DateTime &value)
{
    return int(daysFromCivil(value.year, value.month, value.day) -
               daysFromCivil(value.year, 1, 1)) +
           1;
}

int isoWeeksInYear(int year)
{
    const int jan1 = weekdayOf(daysFromCivil(year, 1, 1));
    return jan1 == 4 || (jan1 == 3 && isLeap(year)) ? 53 : 52;
}

int isoWeek(const DateTime &value)
{
    const int isoWeekday =
        (weekdayOf(daysFromCivil(value.year, value.month, value.day)) + 6) % 7 + 1;
    const int week = (dayOfYear(value) - isoWeekday + 10) / 7;
    if (week < 1)
        return isoWeeksInYear(value.year - 1);
    if (week > isoWeeksInYear(value.year))
        return 1;
    return week;
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

bool allDigits(std::string_view text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int number(std::string_view digits)
{
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

DateStatus checkDate(int year, int month, int day, DateTime &out)
{
    // datetime begins in 1753.
    if (year < 1753 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month))
        return DateStatus::OutOfRange;
    out = DateTime{year, month, day};
    return DateStatus::Ok;
}

// Eight digits, or six with a two-digit year (up to 49 in this century).
DateStatus parseDigits(std::string_view text, DateTime &out)
{
    if (text.size() == 8)
        return checkDate(number(text.substr(0, 4)), number(text.substr(4, 2)),
                         number(text.substr(6, 2)), out);
    const int year = number(text.substr(0, 2));
    return checkDate(year + (year <= 49 ? 2000 : 1900), number(text.substr(2, 2)),
                     number(text.substr(4, 2)), out);
}

// "hh:mm[:ss[.fff]]".
DateStatus parseTime(std::string_view text, DateTime &out)
{
    auto twoDigits = [&](int &target) {
        if (text.size() < 2 || !allDigits(text.substr(0, 2)))
            return false;
        target = number(text.substr(0, 2));
        text.remove_prefix(2);
        return true;
    };
    if (!twoDigits(out.hour) || text.empty() || text.front() != ':')
        return DateStatus::BadFormat;
    text.remove_prefix(1);
    if (!twoDigits(out.minute))
        return DateStatus::BadFormat;
    if (!text.empty() && text.front() == ':') {
        text.remove_prefix(1);
        if (!twoDigits(out.second))
            return DateStatus::BadFormat;
        if (!text.empty() && text.front() == '.') {
            text.remove_prefix(1);
            if (text.empty() || text.size() > 3 || !allDigits(text))
                return DateStatus::BadFormat;
            out.millisecond = number(text);
            for (size_t i = text.size(); i < 3; ++i)
                out.millisecond *= 10;
            text = {};
        }
    }
    if (!text.empty())
        return DateStatus::BadFormat;
    if (out.hour > 23 || out.minute > 59 || out.second > 59)
        return DateStatus::OutOfRange;
    return DateStatus::Ok;
}

} // namespace

std::optional<DatePart> datePartByName(QStringView name)
{
    for (const PartName &entry : PartNames) {
        if (name.compare(QStringView(entry.name), Qt::CaseInsensitive) == 0)
            return entry.part;
    }
    return std::nullopt;
}

DateStatus parseStyle112(std::string_view text, DateTime &out)
{
    text = trimBlanks(text);
    if (text.empty()) {
        out = DateTime{};
        return DateStatus::Ok;
    }
    if ((text.size() != 8 && text.size() != 6) || !allDigits(text))
        return DateStatus::BadFormat;
    return parseDigits(text, out);
}

DateStatus parseDateTimeText(std::string_view text, DateTime &out)
{
    text = trimBlanks(text);
    if (text.empty()) {
        out = DateTime{};
        return DateStatus::Ok;
    }
    size_t dateLength = 0;
    DateStatus status;
    if (text.size() >= 10 && text[4] == '-' && text[7] == '-' && allDigits(text.substr(0, 4)) &&
        allDigits(text.substr(5, 2)) && allDigits(text.substr(8, 2))) {
        dateLength = 10;
        status = checkDate(number(text.substr(0, 4)), number(text.substr(5, 2)),
                           number(text.substr(8, 2)), out);
    } else {
        while (dateLength < text.size() && text[dateLength] >= '0' && text[dateLength] <= '9')
            ++dateLength;
        if (dateLength != 8 && dateLength != 6)
            return DateStatus::BadFormat;
        status = parseDigits(text.substr(0, dateLength), out);
    }
    if (dateLength == text.size())
        return status;
    std::string_view rest = text.substr(dateLength);
    if (rest.front() != ' ' && rest.front() != 'T')
        return DateStatus::BadFormat;
    rest = trimBlanks(rest.substr(1));
    DateTime time;
    const DateStatus timeStatus = parseTime(rest, time);
    if (timeStatus == DateStatus::BadFormat || status != DateStatus::Ok)
        return timeStatus == DateStatus::BadFormat ? timeStatus : status;
    out.hour = time.hour;
    out.minute = time.minute;
    out.second = time.second;
    out.millisecond = time.millisecond;
    return timeStatus;
}

DateStatus dateTimeFromDays(double days, DateTime &out)
{
    // 1753-01-01 to 9999-12-31 as days since 1900-01-01.
    if (!std::isfinite(days) || days < -53690 || days >= 2958464)
        return DateStatus::OutOfRange;
    const double whole = std::floor(days);
    civilFromDays(long(whole) + daysFromCivil(1900, 1, 1), out);
    long milliseconds = std::lround((days - whole) * 86400000.0);
    if (milliseconds >= 86400000)
        milliseconds = 86399999;
    out.hour = int(milliseconds / 3600000);
    out.minute = int(milliseconds / 60000 % 60);
    out.second = int(milliseconds / 1000 % 60);
    out.millisecond = int(milliseconds % 1000);
    return DateStatus::Ok;
}

int datePart(DatePart part, const DateTime &value)
{
    switch (part) {
    case DatePart::Year:
        return value.year;
    case DatePart::Quarter:
        return (value.month - 1) / 3 + 1;
    case DatePart::Month:
        return value.month;
    case DatePart::DayOfYear:
        return dayOfYear(value);
    case DatePart::Day:
        return value.day;
    case DatePart::Week:
        // Week 1 holds 1 January; weeks begin on Sunday.
        return (dayOfYear(value) - 1 + weekdayOf(daysFromCivil(value.year, 1, 1))) / 7 + 1;
    case DatePart::Weekday:
        return weekdayOf(daysFromCivil(value.year, value.month, value.day)) + 1;
    case DatePart::Hour:
        return value.hour;
    case DatePart::Minute:
        return value.minute;
    case DatePart::Second:
        return value.second;
    case DatePart::Millisecond:
        return value.millisecond;
    case DatePart::IsoWeek:
        return isoWeek(value);
    }
    return 0;
}

std::string formatDateTime(const DateTime &value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", value.year, value.month,
                  value.day, value.hour, value.minute, value.second, value.millisecond);
    return text;
}

} // namespace sqlcompat
