// libFuzzer target: the library's reading of host and port texts. The input is
// the host text, a NUL, then the port text; without a NUL the port is missing.
#include "endpoint.h"
#include "velorun.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool blank(char c)
{
    return std::strchr(" \t\n\v\f\r", c) != nullptr;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    const std::string host = input.substr(0, split);
    const std::string port = split == std::string::npos ? std::string() : input.substr(split + 1);

    velorun::Endpoint endpoint;
    const int result = velorun::parseEndpoint(
        host.c_str(), split == std::string::npos ? nullptr : port.c_str(), endpoint);
    require(result >= VELORUN_OK && result <= VELORUN_ERROR_HOST_NOT_FOUND);
    if (result != VELORUN_OK)
        return 0;

    require(endpoint.port >= 1 && endpoint.port <= 65535);
    require(!endpoint.host.empty() && endpoint.host.size() <= 253);
    require(!blank(endpoint.host.front()) && !blank(endpoint.host.back()));
    require(host.find(endpoint.host) != std::string::npos);

    // What was read reads the same again.
    velorun::Endpoint again;
    require(
        velorun::parseEndpoint(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(), again)
        == VELORUN_OK);
    require(again.host == endpoint.host && again.port == endpoint.port);
    return 0;
}
