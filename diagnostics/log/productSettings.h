#pragma once
// Where the product keeps its settings: the local machine's configuration key, read through the
// 32-bit registry view.

#include <string>

constexpr const wchar_t* kProductConfigKey = L"SOFTWARE\\Kestrin\\Ondra Config\\Config";

// The installation root, PRODUCT_ROOT_D; raises (registry::getstr) when it cannot be read.
std::wstring productRoot();
