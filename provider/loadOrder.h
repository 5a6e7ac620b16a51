#pragma once
// The order in which the provider's static objects are built at load (and so, reversed,
// destroyed at unload), across its source files: lower first. The order of files on the link
// line is not something to rely on, and MinGW runs unordered constructors in reverse link order;
// init_priority is honoured by GCC and Clang on this target. Objects without an order are built
// after all of these.
#if defined(__GNUC__)
#define KESTRIN_LOAD_ORDER(rank) __attribute__((init_priority(rank)))
#else
#define KESTRIN_LOAD_ORDER(rank)
#endif

// The thread-local current span's registration, with its destructor at thread exit.
#define KESTRIN_LOAD_ORDER_CURRENT_SPAN KESTRIN_LOAD_ORDER(1000)
// The crash-dump settings and handler: after the current span, destroyed before it.
#define KESTRIN_LOAD_ORDER_CRASH_DUMPS KESTRIN_LOAD_ORDER(1001)
