// The project's own remote-control library: opens the link to the treadmill's
// controller and sends speed commands over it as text lines, for example
// "setSpeed 1.250" and "setSpeed4 1.000 1.200 0.500 0.500".
#include "velorun.h"

#include "endpoint.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#if defined(_WIN32)
#    include <winsock2.h>
#    include <ws2tcpip.h>
#else
#    include <cerrno>
#    include <fcntl.h>
#    include <netdb.h>
#    include <poll.h>
#    include <sys/socket.h>
#    include <sys/types.h>
#    include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The panel waits for these calls on its GUI thread, so no call may take longer
// (close waits only for the calls ahead of it, each held to this).
constexpr std::chrono::milliseconds timeLimit(2500);

#if defined(_WIN32)
using Socket = SOCKET;
const Socket noSocket = INVALID_SOCKET;
constexpr int sendFlags = 0;

bool startNetworking()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
int lastError()
{
    return WSAGetLastError();
}
void closeSocket(Socket s)
{
    closesocket(s);
}
bool setNonBlocking(Socket s, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}
bool inProgress(int error)
{
    return error == WSAEWOULDBLOCK;
}
bool wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}
bool interrupted(int error)
{
    return error == WSAEINTR;
}
bool refused(int error)
{
    return error == WSAECONNREFUSED;
}

// Ready to write (connected) or failed; false when the time ran out.
bool waitWritable(Socket s, Clock::time_point deadline)
{
    const int milliseconds = millisecondsLeft(deadline);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv {milliseconds / 1000, (milliseconds % 1000) * 1000};
    return select(0, nullptr, &writable, &failed, &tv) > 0;
}
#else
using Socket = int;
const Socket noSocket = -1;
#    if defined(MSG_NOSIGNAL)
constexpr int sendFlags = MSG_NOSIGNAL; // a vanished peer must not kill the panel with SIGPIPE
#    else
constexpr int sendFlags = 0;
#    endif

bool startNetworking()
{
    return true;
}
int lastError()
{
    return errno;
}
void closeSocket(Socket s)
{
    ::close(s);
}
bool setNonBlocking(Socket s, bool on)
{
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}
bool inProgress(int error)
{
    return error == EINPROGRESS || error == EINTR;
}
bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}
bool interrupted(int error)
{
    return error == EINTR;
}
bool refused(int error)
{
    return error == ECONNREFUSED;
}

bool waitWritable(Socket s, Clock::time_point deadline)
{
    pollfd p {s, POLLOUT, 0};
    int n;
    do {
        n = poll(&p, 1, millisecondsLeft(deadline)); // signals do not stretch the deadline
    } while (n < 0 && errno == EINTR);
    return n > 0;
}
#endif

// Calls take turns; a call waits for its turn only until its own deadline.
std::timed_mutex linkMutex;
Socket link = noSocket;
int linkType = 0;

void closeLink()
{
    if (link != noSocket)
        closeSocket(link);
    link = noSocket;
}

struct Lookup
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int status = 0;
    addrinfo* result = nullptr;
};

// Name lookups in flight, each on a thread of its own. A lookup that hangs in the
// system's resolver keeps its thread until the resolver gives up, so repeated
// calls must not start a thread each. Never destroyed: an abandoned lookup may
// still end after the host program has started to exit.
struct LookupSlots
{
    static constexpr int count = 3;
    std::mutex mutex;
    std::condition_variable freed;
    int used = 0;
};
LookupSlots& lookupSlots()
{
    static LookupSlots* slots = new LookupSlots;
    return *slots;
}

// getaddrinfo has no time limit of its own: a name lookup runs on a thread of
// its own that is abandoned (and cleans up after itself) once time runs out.
int resolve(const std::string& host, const std::string& port, int type, Clock::time_point deadline,
            addrinfo** result)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, result) == 0)
        return VELORUN_OK;

    hints.ai_flags = AI_NUMERICSERV;
    LookupSlots& slots = lookupSlots();
    {
        std::unique_lock<std::mutex> lock(slots.mutex);
        if (!slots.freed.wait_until(lock, deadline, [&] { return slots.used < slots.count; }))
            return VELORUN_ERROR_TIMED_OUT;
        ++slots.used;
    }
    const auto freeSlot = [&slots] {
        {
            std::lock_guard<std::mutex> lock(slots.mutex);
            --slots.used;
        }
        slots.freed.notify_one();
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port, hints, freeSlot] {
            addrinfo* found = nullptr;
            const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            if (lookup->abandoned) {
                if (found)
                    freeaddrinfo(found);
            } else {
                lookup->status = status;
                lookup->result = found;
            }
            lookup->finished = true;
            lookup->done.notify_all();
            freeSlot();
        }).detach();
    } catch (...) {
        freeSlot();
        return VELORUN_ERROR_NETWORK;
    }

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        return VELORUN_ERROR_TIMED_OUT;
    }
    if (lookup->status != 0 || !lookup->result)
        return VELORUN_ERROR_HOST_NOT_FOUND;
    *result = lookup->result;
    return VELORUN_OK;
}

int connectStream(Socket s, const addrinfo* address, Clock::time_point deadline)
{
    if (!setNonBlocking(s, true))
        return VELORUN_ERROR_NETWORK;
    if (::connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
        const int error = lastError();
        if (refused(error))
            return VELORUN_ERROR_REFUSED;
        if (!inProgress(error))
            return VELORUN_ERROR_NETWORK;
        if (!waitWritable(s, deadline))
            return VELORUN_ERROR_TIMED_OUT;
        int status = 0;
        socklen_t length = sizeof status;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &length) != 0)
            return VELORUN_ERROR_NETWORK;
        if (status != 0)
            return refused(status) ? VELORUN_ERROR_REFUSED : VELORUN_ERROR_NETWORK;
    }
    return VELORUN_OK;
}

int openLink(const char* hostText, const char* portText, int type)
{
    const auto deadline = Clock::now() + timeLimit;
    std::unique_lock<std::timed_mutex> lock(linkMutex, deadline);
    if (!lock.owns_lock())
        return VELORUN_ERROR_TIMED_OUT;
    closeLink();

    velorun::Endpoint endpoint;
    if (const int invalid = velorun::parseEndpoint(hostText, portText, endpoint))
        return invalid;
    if (!startNetworking())
        return VELORUN_ERROR_NETWORK;

    addrinfo* addresses = nullptr;
    const int found =
        resolve(endpoint.host, std::to_string(endpoint.port), type, deadline, &addresses);
    if (found != VELORUN_OK)
        return found;

    // Try each address in turn ("localhost" may name ::1 before 127.0.0.1);
    // report the most telling failure.
    int outcome = VELORUN_ERROR_NETWORK;
    for (const addrinfo* a = addresses; a; a = a->ai_next) {
        int socketType = a->ai_socktype;
#if defined(SOCK_CLOEXEC)
        socketType |= SOCK_CLOEXEC; // a program the host starts must not inherit the link
#endif
        const Socket s = ::socket(a->ai_family, socketType, a->ai_protocol);
        if (s == noSocket)
            continue;
        // The link stays non-blocking: a command waits for room only until its deadline.
        int result;
        if (type == SOCK_STREAM)
            result = connectStream(s, a, deadline);
        else
            result = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0
                    && setNonBlocking(s, true)
                ? VELORUN_OK
                : VELORUN_ERROR_NETWORK;
        if (result == VELORUN_OK) {
            link = s;
            linkType = type;
            outcome = VELORUN_OK;
            break;
        }
        closeSocket(s);
        if (outcome != VELORUN_ERROR_REFUSED)
            outcome = result;
        if (Clock::now() >= deadline)
            break;
    }
    freeaddrinfo(addresses);
    return outcome;
}

bool finite(double value)
{
    return value == value && value - value == 0.0;
}

void appendNumber(std::string& line, double value)
{
    char buffer[64];
    // Fixed notation in the C locale, whatever locale the host program set.
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    line += ' ';
    line.append(buffer, written.ptr);
}

// Hands the whole line to the link before the deadline. A datagram goes whole
// or not at all; on a stream, part of the line may have gone out on failure.
int sendWhole(const std::string& line, bool stream, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (sent < line.size()) {
        const auto n =
            ::send(link, line.data() + sent, static_cast<int>(line.size() - sent), sendFlags);
        if (n >= 0) {
            if (!stream)
                break;
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = lastError();
        if (interrupted(error))
            continue;
        if (!wouldBlock(error))
            return refused(error) ? VELORUN_ERROR_REFUSED : VELORUN_ERROR_NETWORK;
        if (!waitWritable(link, deadline))
            return VELORUN_ERROR_TIMED_OUT;
    }
    return VELORUN_OK;
}

int sendLine(std::string line, Clock::time_point deadline)
{
    line += '\n';
    std::unique_lock<std::timed_mutex> lock(linkMutex, deadline);
    if (!lock.owns_lock())
        return VELORUN_ERROR_TIMED_OUT;
    if (link == noSocket)
        return VELORUN_ERROR_NOT_CONNECTED;
    const bool stream = linkType == SOCK_STREAM;
    const int result = sendWhole(line, stream, deadline);
    // The controller must never read the next command glued onto half a line.
    if (result != VELORUN_OK && stream)
        closeLink();
    return result;
}

template<typename Function> int guarded(Function function)
{
    try {
        return function();
    } catch (...) {
        // Nothing may cross the C boundary.
        return VELORUN_ERROR_NETWORK;
    }
}

} // namespace

extern "C" {

int VELORUN_initialize(const char* host, const char* port)
{
    return guarded([&] { return openLink(host, port, SOCK_STREAM); });
}

int VELORUN_initializeUDP(const char* host, const char* port)
{
    return guarded([&] { return openLink(host, port, SOCK_DGRAM); });
}

int VELORUN_setSpeed(double speed)
{
    const auto deadline = Clock::now() + timeLimit;
    if (!finite(speed))
        return VELORUN_ERROR_INVALID_SPEED;
    return guarded([&] {
        std::string line = "setSpeed";
        appendNumber(line, speed);
        return sendLine(line, deadline);
    });
}

int VELORUN_setSpeed4(double leftSpeed, double rightSpeed, double leftAcceleration,
                      double rightAcceleration)
{
    const auto deadline = Clock::now() + timeLimit;
    if (!finite(leftSpeed) || !finite(rightSpeed) || !finite(leftAcceleration)
        || !finite(rightAcceleration) || leftAcceleration < 0 || rightAcceleration < 0)
        return VELORUN_ERROR_INVALID_SPEED;
    return guarded([&] {
        std::string line = "setSpeed4";
        for (const double value : {leftSpeed, rightSpeed, leftAcceleration, rightAcceleration})
            appendNumber(line, value);
        return sendLine(line, deadline);
    });
}

int VELORUN_close(void)
{
    // Waits for its turn without a limit: every other call ends within its own.
    std::lock_guard<std::timed_mutex> lock(linkMutex);
    closeLink();
    return VELORUN_OK;
}

} // extern "C"
