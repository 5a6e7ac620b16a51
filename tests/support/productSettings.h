#pragma once
// Test support: values of the product's settings key (32-bit view) set for one test and put back
// as they were at its end. Tests using it hold the product-registry lock.

#include <windows.h>

#include <string>
#include <vector>

class ProductSettings {
 public:
  ProductSettings() = default;
  ~ProductSettings();
  ProductSettings(const ProductSettings&) = delete;
  ProductSettings& operator=(const ProductSettings&) = delete;

  void set(const std::wstring& name, const std::wstring& text);
  void set(const std::wstring& name, DWORD value);
  void remove(const std::wstring& name);

 private:
  void save(const std::wstring& name);

  struct Saved {
    std::wstring name;
    bool existed = false;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  std::vector<Saved> saved_;
};
