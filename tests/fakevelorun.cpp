// A remote-control library that lacks "VELORUN_initializeUDP" and whose TCP
// initialise always fails with a negative code. The library's own header
// declares (and exports) what it defines.
#include "velorun.h"

int VELORUN_initialize(const char*, const char*)
{
    return -3;
}
int VELORUN_setSpeed(double)
{
    return 0;
}
int VELORUN_setSpeed4(double, double, double, double)
{
    return 0;
}
int VELORUN_close()
{
    return 0;
}
