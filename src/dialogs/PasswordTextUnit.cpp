#include "PasswordTextUnit.h"

QString TrimPasswordEntry(const QString& entry)
{
    qsizetype begin = 0;
    qsizetype end = entry.size();
    while (begin < end && entry.at(begin).unicode() < 33)
        ++begin;
    while (end > begin && entry.at(end - 1).unicode() < 33)
        --end;
    return entry.mid(begin, end - begin);
}
