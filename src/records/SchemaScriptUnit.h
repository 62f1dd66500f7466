#pragma once

#include <QString>
#include <QStringList>

// The statements of a schema script (schema.sql, schema-postgresql.sql): "--" comments dropped,
// split at ';', empty parts left out. The scripts hold no ';' or "--" inside a literal.
// Thread-safe.
QStringList SchemaStatements(const QString& script);
