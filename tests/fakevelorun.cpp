// A remote-control library that lacks "VELORUN_initializeUDP" and whose TCP
// initialise always fails with a negative code.
#if defined(_WIN32)
#    define FAKE_API extern "C" __declspec(dllexport)
#else
#    define FAKE_API extern "C" __attribute__((visibility("default")))
#endif

FAKE_API int VELORUN_initialize(const char*, const char*)
{
    return -3;
}
FAKE_API int VELORUN_setSpeed(double)
{
    return 0;
}
FAKE_API int VELORUN_setSpeed4(double, double, double, double)
{
    return 0;
}
FAKE_API int VELORUN_close()
{
    return 0;
}
