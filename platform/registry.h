#pragma once
// Reading and writing registry values with fixed rules: strings are read whole whatever their
// length, REG_EXPAND_SZ values come back expanded, a value of the wrong type or size raises
// vexception. Lookups return the Windows status (0, 2 for a missing key or value, 234 for data
// larger than offered); create, open, set and getstr raise through throwOSError instead.
// Every key a function opens for itself is closed before it returns or raises.

#include <windows.h>

#include <cstdint>
#include <string>

// Which registry view the lookups that open a subkey themselves use.
enum RegistryView : uint32_t {
  RegistryViewDefault = 0,
  RegistryView32 = 1,  // KEY_WOW64_32KEY
  RegistryView64 = 2,  // KEY_WOW64_64KEY
  RegistryView64Alt = 3,  // KEY_WOW64_64KEY as well
};

namespace registry {

// The access-mask flag that selects view; 0 for any value but 1, 2 and 3.
REGSAM viewFlag(RegistryView view);

// Creates parent\subKey if missing (non-volatile, default security), or opens it, into key.
void create(HKEY parent, const std::wstring& subKey, HKEY& key, REGSAM access);

// Opens the existing key parent\subKey into key.
void open(HKEY parent, const std::wstring& subKey, HKEY& key, REGSAM access);

// Whether parent\subKey can be opened with READ_CONTROL in view.
bool exists(HKEY parent, const std::wstring& subKey, RegistryView view);

// A REG_SZ or REG_EXPAND_SZ value (the latter expanded) of an open key.
LSTATUS lookup(HKEY key, const std::wstring& valueName, std::wstring& value);

// A REG_DWORD value of an open key; value is untouched unless the status is 0.
LSTATUS lookup(HKEY key, const std::wstring& valueName, DWORD& value);

// A REG_DWORD value of parent\subKey opened in view; value is untouched unless the status is 0.
LSTATUS lookup(HKEY parent, const std::wstring& subKey, const std::wstring& valueName, DWORD& value,
               RegistryView view);

// A string value of parent\subKey opened in view, of expectedType (REG_SZ and REG_EXPAND_SZ
// stand for each other); a REG_EXPAND_SZ value comes back expanded.
LSTATUS lookup(HKEY parent, const std::wstring& subKey, const std::wstring& valueName,
               std::wstring& value, DWORD expectedType, RegistryView view);

// The string value of parent\subKey in view; raises when it cannot be read.
std::wstring getstr(HKEY parent, const std::wstring& subKey, const std::wstring& valueName,
                     RegistryView view);

// A REG_DWORD value of an open key, or defaultValue when it is missing or not a 4-byte REG_DWORD.
// Never raises.
DWORD readDWORD(HKEY key, const std::wstring& valueName, DWORD defaultValue);

// Writes text as REG_SZ, its terminating zero included.
void set(HKEY key, const std::wstring& valueName, const std::wstring& text);

// Writes value as REG_DWORD.
void set(HKEY key, const std::wstring& valueName, DWORD value);

}  // namespace registry
