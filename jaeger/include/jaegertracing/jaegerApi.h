#pragma once
// Export and import of the jaegertracing library's symbols.

#if defined(_WIN32)
#if defined(JAEGERTRACING_BUILDING)
#define JAEGERTRACING_API __declspec(dllexport)
#else
#define JAEGERTRACING_API __declspec(dllimport)
#endif
#else
#define JAEGERTRACING_API
#endif
