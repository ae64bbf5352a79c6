#pragma once

#include <QString>

// The text of sql/embedded/schema.sql.
QString embeddedSchemaSql();
