#pragma once
#include <QString>

#include <cstring>

// The host's own words for an error number (errno), for messages to the user.
inline QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}
