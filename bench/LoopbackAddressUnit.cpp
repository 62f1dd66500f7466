#include "LoopbackAddressUnit.h"

#include <arpa/inet.h>
#include <stdexcept>

namespace LoopbackAddress {

sockaddr_in Resolve(const std::string& host, unsigned short port)
{
    // No name lookup: a resolver could answer with any address.
    const std::string numeric = host == "localhost" ? std::string("127.0.0.1") : host;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, numeric.c_str(), &address.sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 loopback address: '" + host + "'");
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
        throw std::invalid_argument("refusing a host outside 127.0.0.0/8: '" + host + "'");
    return address;
}

} // namespace LoopbackAddress
