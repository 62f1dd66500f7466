#include "FileDescriptorLimitUnit.h"

#include <limits>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

qint64 RaiseFileDescriptorLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max()
                                           : static_cast<qint64>(limit.rlim_cur);
#else
    return -1;
#endif
}
