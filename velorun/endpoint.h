// How the library reads the host and port texts it is handed. Internal: not
// part of the library's interface.
#ifndef VELORUN_ENDPOINT_H
#define VELORUN_ENDPOINT_H

#include <string>

namespace velorun {

struct Endpoint
{
    std::string host; // without surrounding white space
    unsigned port = 0; // 1 to 65535
};

// Returns VELORUN_OK and fills `endpoint`, or the error code that the text earns:
// missing argument, invalid port, or a host that no resolver could find.
int parseEndpoint(const char* host, const char* port, Endpoint& endpoint);

} // namespace velorun

#endif // VELORUN_ENDPOINT_H
