#include "sqlcompat/dates.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

constexpr bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of a month by its two digits (00 to 99), in a common and in a leap year; 0 for those
// that are no month, so that one comparison rejects a bad month and a bad day alike.
constexpr auto MonthLengths = [] {
    struct Table
    {
        std::uint8_t days[2][100];
    } t{};
    constexpr std::uint8_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int leap = 0; leap < 2; ++leap) {
        for (int month = 1; month <= 12; ++month)
            t.days[leap][month] = std::uint8_t(days[month - 1] + (leap && month == 2));
    }
    return t;
}();

// Days of the year before the first of each month (1 to 12), in a common and a leap year.
constexpr auto DaysBeforeMonth = [] {
    struct Table
    {
        std::uint16_t days[2][13];
    } t{};
    for (int leap = 0; leap < 2; ++leap) {
        for (int month = 2; month <= 12; ++month)
            t.days[leap][month] =
                std::uint16_t(t.days[leap][month - 1] + MonthLengths.days[leap][month - 1]);
    }
    return t;
}();

int daysInMonth(int year, int month)
{
    return MonthLengths.days[isLeap(year)][month];
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
    return DaysBeforeMonth.days[isLeap(value.year)][value.month] + value.day;
}

// 0 = Sunday, as weekdayOf(daysFromCivil(year, 1, 1)), for years after 0: days counted
// from 1 January of the year 1, a Monday.
constexpr int january1Weekday(int year)
{
    const unsigned before = unsigned(year - 1);
    return int((before * 365 + before / 4 - before / 100 + before / 400 + 1) % 7);
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

// Eight ASCII digits, the form a date column holds nearly always, tested as one word: each
// byte's high half is 3, and stays 3 when 6 is added to it (0x30 to 0x39, no carry).
bool eightDigits(std::string_view text)
{
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0ull;
    constexpr std::uint64_t threes = 0x3030303030303030ull;
    std::uint64_t word;
    std::memcpy(&word, text.data(), 8);
    return (word & high) == threes && ((word + 0x0606060606060606ull) & high) == threes;
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

// "YYYYMMDD", its eight digits known, read without loops. The digits are paired in one word
// where the machine stores its first byte lowest.
inline void readEightDigits(std::string_view text, int &year, int &month, int &day)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t digits;
        std::memcpy(&digits, text.data(), 8);
        digits -= 0x3030303030303030ull;
        // Each 16-bit lane: ten times its first digit plus its second.
        const std::uint64_t pairs = (digits * 10 + (digits >> 8)) & 0x00FF00FF00FF00FFull;
        year = int(pairs & 0xFF) * 100 + int((pairs >> 16) & 0xFF);
        month = int((pairs >> 32) & 0xFF);
        day = int(pairs >> 48);
    } else {
        auto digit = [&](size_t i) { return text[i] - '0'; };
        year = digit(0) * 1000 + digit(1) * 100 + digit(2) * 10 + digit(3);
        month = digit(4) * 10 + digit(5);
        day = digit(6) * 10 + digit(7);
    }
}

// parseDigits for eight digits.
inline DateStatus checkEightDigits(std::string_view text, DateTime &out)
{
    int year, month, day;
    readEightDigits(text, year, month, day);
    return checkDate(year, month, day, out);
}

// For each year datetime holds (1753 to 9999): the weekday of 1 January (0 = Sunday), plus 8
// in a leap year. A scan touches the few entries of the years its dates have.
constexpr int FirstYear = 1753;
constexpr int LastYear = 9999;

struct YearTable
{
    std::uint8_t info[LastYear - FirstYear + 1];
};

constexpr YearTable makeYearTable()
{
    YearTable table{};
    for (int year = FirstYear; year <= LastYear; ++year) {
        table.info[year - FirstYear] = std::uint8_t(january1Weekday(year) | (isLeap(year) ? 8 : 0));
    }
    return table;
}

constexpr YearTable Years = makeYearTable();

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

DateStatus parseOtherStyle112(std::string_view text, DateTime &out);

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
    if (text.size() == 8 && eightDigits(text))
        return checkEightDigits(text, out);
    return parseOtherStyle112(text, out);
}

namespace {

// Blanks around, six digits, or an empty text.
DateStatus parseOtherStyle112(std::string_view text, DateTime &out)
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

} // namespace

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
        return (dayOfYear(value) - 1 + january1Weekday(value.year)) / 7 + 1;
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

namespace {

// The rarer texts and parts, out of the way of the usual ones.
[[gnu::noinline]] DateStatus datePartOfOtherText(DatePart part, std::string_view text, int &out)
{
    DateTime value;
    const DateStatus status = parseOtherStyle112(text, value);
    if (status == DateStatus::Ok)
        out = datePart(part, value);
    return status;
}

[[gnu::noinline]] int otherDatePart(DatePart part, int year, int month, int day)
{
    return datePart(part, DateTime{year, month, day});
}

} // namespace

DateStatus datePartOfStyle112(DatePart part, std::string_view text, int &out)
{
    if (text.size() != 8 || !eightDigits(text))
        return datePartOfOtherText(part, text, out);
    // What checkDate and datePart do, the year's and the month's facts from tables: a scan
    // takes this for every row, so it has as few tests and branches as it can.
    int year, month, day;
    readEightDigits(text, year, month, day);
    if (year < FirstYear)
        return DateStatus::OutOfRange;
    const int info = Years.info[year - FirstYear];
    const int leap = (info >> 3) & 1;
    if (unsigned(day - 1) >= MonthLengths.days[leap][month])
        return DateStatus::OutOfRange;
    switch (part) {
    case DatePart::Year:
        out = year;
        break;
    case DatePart::Month:
        out = month;
        break;
    case DatePart::Week:
        out = (DaysBeforeMonth.days[leap][month] + day - 1 + (info & 7)) / 7 + 1;
        break;
    default:
        out = otherDatePart(part, year, month, day);
    }
    return DateStatus::Ok;
}

std::string formatDateTime(const DateTime &value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", value.year, value.month,
                  value.day, value.hour, value.minute, value.second, value.millisecond);
    return text;
}

} // namespace sqlcompat
