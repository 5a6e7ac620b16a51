/* A stand-in for the provider that lacks its third export; the driver must never use it. */
__declspec(dllexport) void* OpenTracingProviderGetTracer(void) { return 0; }
__declspec(dllexport) void* OpenTracingProviderGetSpanContext(void) { return 0; }
