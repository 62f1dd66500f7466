#include "BaseDoorlockUnit.h"

bool TBaseDoorlock::WriteCard(const QString&, const QString&, const QString&, const QString&,
                              const QString&, TDateTime, TDateTime, TDateTime, TDateTime, bool,
                              std::int64_t&)
{
    return false;
}

bool TBaseDoorlock::ReadCard(std::int64_t&)
{
    return false;
}
