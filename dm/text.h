#pragma once

#include <QString>

namespace dm {

// Removes leading and trailing characters of code 32 or less.
QString trimText(const QString &text);

// The text trimmed and parsed as a decimal integer (optional sign); fails with
// "'%s' is not a valid integer value", the trimmed text standing for %s.
qint32 strToInt(const QString &text);

} // namespace dm
