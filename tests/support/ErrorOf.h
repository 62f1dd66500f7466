#pragma once

#include "DoorlockError.h"

#include <QString>
#include <functional>

// The message of the DoorlockError that action throws, or a null text when it throws none.
inline QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const DoorlockError& error) {
        return error.message();
    }
    return QString();
}
