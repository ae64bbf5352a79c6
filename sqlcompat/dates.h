#pragma once

// Inner part of the dialect: for sqlcompat/ itself, its tests and fuzz targets only.

#include <QStringView>
#include <optional>
#include <string>
#include <string_view>

// Dates as the ERP server's datetime type and DATEPART treat them (DATEFIRST 7).
namespace sqlcompat {

enum class DatePart {
    Year,
    Quarter,
    Month,
    DayOfYear,
    Day,
    Week,
    Weekday,
    Hour,
    Minute,
    Second,
    Millisecond,
    IsoWeek,
};

// The part names and abbreviations DATEPART accepts, in any letter case.
std::optional<DatePart> datePartByName(QStringView name);

struct DateTime
{
    int year = 1900;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

enum class DateStatus { Ok, BadFormat, OutOfRange };

inline constexpr const char *BadFormatMessage =
    "Conversion failed when converting date and/or time from character string.";
inline constexpr const char *OutOfRangeMessage =
    "The conversion of a varchar data type to a datetime data type resulted in an "
    "out-of-range value.";

// convert(datetime, text, 112): "YYYYMMDD" (or "YYMMDD"), blanks around allowed; an
// empty or blank text is 1900-01-01.
DateStatus parseStyle112(std::string_view text, DateTime &out);

// DATEPART(part, convert(datetime, text, 112)): what parseStyle112 and datePart give, in one
// step that a scan takes for every row.
DateStatus datePartOfStyle112(DatePart part, std::string_view text, int &out);

// A text converted to datetime implicitly: the forms above, or "YYYY-MM-DD", each
// optionally followed by a time "hh:mm[:ss[.fff]]".
DateStatus parseDateTimeText(std::string_view text, DateTime &out);

// A number converted to datetime: days since 1900-01-01, the fraction the time of day.
DateStatus dateTimeFromDays(double days, DateTime &out);

int datePart(DatePart part, const DateTime &value);

// "YYYY-MM-DD hh:mm:ss.fff", which parseDateTimeText reads back.
std::string formatDateTime(const DateTime &value);

} // namespace sqlcompat
