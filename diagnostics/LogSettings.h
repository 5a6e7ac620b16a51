#pragma once
// The process-wide logging switches and listeners, shared by every module of the process through
// the execute context. Modules built separately read and write the block, so its layout is fixed;
// the listener list has the node layout of the product's other modules, not this compiler's.

#include <cstddef>
#include <cstdint>

// Implemented by other modules, which add and remove the listeners; this library only calls them.
class ILogListener;

struct LogListenerNode {
  LogListenerNode* next;
  LogListenerNode* previous;
  ILogListener* listener;  // empty in the sentinel
};

// A circular doubly linked list with a sentinel: the sentinel's next is the first element, and
// an empty list's sentinel points to itself both ways.
struct LogListenerList {
  LogListenerNode* sentinel;
  uint64_t size;
};

struct LogSettings {
  uint8_t console[6];   // per log level: non-zero sends its messages to the console
  uint8_t eventLog[6];  // per log level: non-zero sends its messages to the event log
  LogListenerList listeners;
  uint8_t consoleStarted;  // set once the first console message of the process was written
};

static_assert(offsetof(LogSettings, console) == 0 && offsetof(LogSettings, eventLog) == 6 &&
                  offsetof(LogSettings, listeners) == 16 && offsetof(LogSettings, consoleStarted) == 32 &&
                  sizeof(LogSettings) == 40,
              "the layout is shared between modules");
static_assert(sizeof(LogListenerNode) == 24 && sizeof(LogListenerList) == 16, "the layout is shared between modules");
