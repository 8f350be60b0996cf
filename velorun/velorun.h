/* The treadmill's remote-control library: a plain C interface, loaded by the
 * panel at run time and called by name.
 *
 * One link at a time. Every call but VELORUN_close returns within about three
 * seconds, even for a host that never answers or a controller that stops
 * reading, and returns 0 on success or one of the codes below. VELORUN_close
 * waits for its turn without a limit, so that the link is closed whenever it
 * returns; as each call ahead of it ends within its own limit, so does the
 * wait. Host and port are NUL-terminated text; white space around either is
 * ignored (an operator's Enter leaves a line break there).
 *
 * Calls may come from several threads: they take turns, and a call that cannot
 * have its turn within the time limit returns VELORUN_ERROR_TIMED_OUT having
 * changed nothing.
 *
 * The state a failed command leaves: on a TCP link, a command whose line could
 * not be handed over whole (VELORUN_ERROR_TIMED_OUT, VELORUN_ERROR_NETWORK)
 * closes the link, since part of the line may have gone out and the controller
 * must never read the next command glued onto it; later commands return
 * VELORUN_ERROR_NOT_CONNECTED until an initialise call opens a new link. On a
 * UDP link each command is one datagram, sent whole or not at all, and the link
 * stays open whatever the result.
 *
 * Name lookups: at most three run at once. A lookup that hangs in the system's
 * resolver holds its place until the resolver gives up, however long that is;
 * while all three are held, an initialise call with a host name (not an
 * address) returns VELORUN_ERROR_TIMED_OUT. */
#ifndef VELORUN_H
#define VELORUN_H

#if defined(_WIN32)
#    if defined(VELORUN_BUILDING)
#        define VELORUN_API __declspec(dllexport)
#    else
#        define VELORUN_API __declspec(dllimport)
#    endif
#else
#    define VELORUN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    VELORUN_OK = 0,
    VELORUN_ERROR_MISSING_ARGUMENT = 1, /* host or port is null or blank */
    VELORUN_ERROR_INVALID_PORT = 2, /* port is not a decimal number from 1 to 65535 */
    VELORUN_ERROR_HOST_NOT_FOUND = 3, /* the host name does not resolve */
    VELORUN_ERROR_REFUSED = 4, /* the controller refused the connection */
    VELORUN_ERROR_TIMED_OUT = 5, /* no answer within the time limit */
    VELORUN_ERROR_NETWORK = 6, /* any other network failure */
    VELORUN_ERROR_NOT_CONNECTED = 7, /* a command without an open link */
    /* a speed or acceleration that is not a finite number, or a negative acceleration */
    VELORUN_ERROR_INVALID_SPEED = 8
};

/* Opens a TCP link to host:port, closing any earlier link first. */
VELORUN_API int VELORUN_initialize(const char* host, const char* port);

/* The same with a connected UDP socket. UDP has no handshake: success means
 * that the host resolved and the socket opened. */
VELORUN_API int VELORUN_initializeUDP(const char* host, const char* port);

/* Both belts at one speed, in m/s (negative runs backwards). */
VELORUN_API int VELORUN_setSpeed(double speed);

/* Each belt on its own: speeds in m/s, accelerations in m/s^2 (the magnitude
 * of the ramp to that speed; must not be negative). */
VELORUN_API int VELORUN_setSpeed4(double leftSpeed, double rightSpeed, double leftAcceleration,
                                  double rightAcceleration);

/* Closes the link. Safe to call at any time, also twice: always returns 0,
 * after the calls ahead of it have ended (see above). */
VELORUN_API int VELORUN_close(void);

/* The five entry points above, in this order, for code that takes each in
 * turn: the tests, and the build's checks, which read the names here. */
#define VELORUN_ENTRY_POINTS(X)                                                                    \
    X(VELORUN_initialize)                                                                          \
    X(VELORUN_initializeUDP)                                                                       \
    X(VELORUN_setSpeed)                                                                            \
    X(VELORUN_setSpeed4)                                                                           \
    X(VELORUN_close)

#ifdef __cplusplus
}
#endif

#endif /* VELORUN_H */
