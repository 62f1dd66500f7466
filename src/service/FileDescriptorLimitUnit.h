#pragma once

#include <QtGlobal>

// Every open connection holds a descriptor and the usual soft limit (often 1024) is far below what
// a busy front desk with idle peers may need, so start-up raises it to the hard limit. Returns the
// soft limit in force afterwards (-1 where the platform has no such limit). Never fails: when the
// limit cannot be raised it stays as it was. Thread-safe.
qint64 RaiseFileDescriptorLimit();
