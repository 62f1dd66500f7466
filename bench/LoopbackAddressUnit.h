#pragma once

#include <netinet/in.h>
#include <string>

// The benchmarks talk to this machine only: a host must be an IPv4 address in 127.0.0.0/8 or
// the name "localhost". Pure function; thread-safe.
namespace LoopbackAddress {

// Throws std::invalid_argument naming the host when it is anything else.
sockaddr_in Resolve(const std::string& host, unsigned short port);

} // namespace LoopbackAddress
