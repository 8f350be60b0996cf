#include "endpoint.h"

#include "velorun.h"

#include <cstring>

namespace velorun {
namespace {

bool isBlank(char c)
{
    // The C locale's white space, whatever locale the host program set.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trimmed(const char* text)
{
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    return std::string(begin, end);
}

// Decimal digits only (leading zeros allowed), 1 to 65535.
bool parsePort(const std::string& text, unsigned& port)
{
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + unsigned(c - '0');
        if (value > 65535)
            return false;
    }
    port = value;
    return value >= 1;
}

// Too long for DNS, or holding blanks or control characters: no resolver finds it.
bool plausibleHost(const std::string& host)
{
    if (host.size() > 253)
        return false;
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

int parseEndpoint(const char* host, const char* port, Endpoint& endpoint)
{
    if (!host || !port)
        return VELORUN_ERROR_MISSING_ARGUMENT;
    endpoint.host = trimmed(host);
    const std::string portText = trimmed(port);
    if (endpoint.host.empty() || portText.empty())
        return VELORUN_ERROR_MISSING_ARGUMENT;
    if (!parsePort(portText, endpoint.port))
        return VELORUN_ERROR_INVALID_PORT;
    if (!plausibleHost(endpoint.host))
        return VELORUN_ERROR_HOST_NOT_FOUND;
    return VELORUN_OK;
}

} // namespace velorun
