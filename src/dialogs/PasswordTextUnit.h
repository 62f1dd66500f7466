#pragma once

#include <QString>

// An entry loses every character below code 33 (blank and control characters) at both ends.
QString TrimPasswordEntry(const QString& entry);
