#pragma once
// Where the product keeps its settings: the local machine's configuration key, read through the
// 32-bit registry view; and whether they changed since they were last read.

#include <cstdint>
#include <string>

constexpr const wchar_t* kProductConfigKey = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";

// The installation root, PRODUCT_ROOT_D; raises (registry::getstr) when it cannot be read.
std::wstring productRoot();

// The generation of the product's settings (RegistryWatch): values read under a generation
// other than RegistryWatch::kUnwatched stay current until a later call returns another number.
// A change made before the call has moved the number. Any thread; never raises.
uint64_t productSettingsGeneration() noexcept;
