#pragma once

// The SQL Server dialect on SQLite: the only header the data module includes. The other
// headers of this folder are its inner parts, for its own tests and fuzz targets, except the
// exact decimal, which the check of the stored totals computes with as well.

#include "sqlcompat/decimal.h"

#include <QString>

struct sqlite3;

namespace sqlcompat {

// Rewrites a SQL Server statement (markers already turned into '?') so that SQLite gives
// SQL Server's results for it. Token-based; quoted literals are respected; anything it
// does not know passes through unchanged.
QString translate(const QString &sqlServerText);

// Registers the functions the translated statements call, and redefines the NOCASE
// collation as SQL Server's default collation compares (case and trailing blanks ignored),
// on this connection only.
void install(sqlite3 *db);

} // namespace sqlcompat
