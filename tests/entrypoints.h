// The remote-control library's entry points, one list for the tests and the
// build's checks (CMake and tests/installed.sh read the names from here); their
// types are those velorun.h declares. The panel keeps its own declarations and
// the library its velorun.map.
#ifndef ENTRYPOINTS_H
#define ENTRYPOINTS_H

#define VELORUN_ENTRY_POINTS(X)                                                                    \
    X(VELORUN_initialize)                                                                          \
    X(VELORUN_initializeUDP)                                                                       \
    X(VELORUN_setSpeed)                                                                            \
    X(VELORUN_setSpeed4)                                                                           \
    X(VELORUN_close)

#endif // ENTRYPOINTS_H
