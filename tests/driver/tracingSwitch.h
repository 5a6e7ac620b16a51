#pragma once
// Test support: sets the product's "opentracing_enabled" value in either registry view and puts
// both views back as they were at the end. Tests using it hold the product-registry lock.

#include <windows.h>

#include <string>
#include <vector>

class TracingSwitch {
 public:
  TracingSwitch();
  ~TracingSwitch();
  TracingSwitch(const TracingSwitch&) = delete;
  TracingSwitch& operator=(const TracingSwitch&) = delete;

  // view is KEY_WOW64_32KEY or KEY_WOW64_64KEY.
  void set(REGSAM view, DWORD type, const void* data, DWORD size);
  void setDword(REGSAM view, DWORD value) { set(view, REG_DWORD, &value, sizeof(value)); }
  void remove(REGSAM view);

 private:
  struct Saved {
    REGSAM view = 0;
    bool keyExisted = false;
    bool valueExisted = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  std::vector<Saved> saved_;
};
