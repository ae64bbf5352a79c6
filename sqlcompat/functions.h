#pragma once

// Inner part of the dialect: for sqlcompat/ itself, its tests and fuzz targets only.

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

// The functions and the collation that translated statements rely on, and the
// conversions they share with the translation.
namespace sqlcompat {

enum class IntStatus { Ok, Invalid, Overflow };

// A varchar converted to int as the server does: blanks around ignored, an optional
// sign, digits only; an empty or blank text (or a lone sign) is 0.
IntStatus varcharToInt(std::string_view text, std::int32_t &out);

// The server's message for a failed conversion of `text`.
std::string intConversionMessage(IntStatus status, std::string_view text);

// Texts compared as the server's default collation does: letter case and trailing
// blanks ignored. Negative, zero or positive like memcmp.
int compareText(std::string_view a, std::string_view b);

// Names the translation writes into statements.
inline constexpr const char *DatePart112Function = "sqlsrv_datepart112";
inline constexpr const char *DatePartFunction = "sqlsrv_datepart";
inline constexpr const char *DateParts112Function = "sqlsrv_dateparts112";
inline constexpr const char *DateTime112Function = "sqlsrv_datetime112";
inline constexpr const char *IntFunction = "sqlsrv_int";
inline constexpr const char *RoundFunction = "sqlsrv_round";
inline constexpr const char *SumFunction = "sqlsrv_sum";
inline constexpr const char *CalcFunction = "sqlsrv_calc";

// Limits of the arithmetic that sqlsrv_sum and sqlsrv_calc evaluate; the translation keeps within
// them.
inline constexpr int MaxSumOperands = 32;
inline constexpr int MaxSumOps = 64;
inline constexpr int MaxSumConstants = 8;
inline constexpr int MaxSumStack = 16;

// Throws dm::Error when SQLite refuses a registration.
void registerFunctions(sqlite3 *db);

} // namespace sqlcompat
