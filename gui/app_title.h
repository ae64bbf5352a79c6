#pragma once

#include <QString>

// The program's title from its file: the file name without directory, cut at the first ".",
// every character after the first in lower case ("/opt/x/SalesTotals.exe" -> "Salestotals").
QString applicationTitle(const QString &programPath);
