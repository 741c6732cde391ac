// The product's registry key (HKCU\Software\Quorvane) read and written as the
// TOML text of the settings file, one table per sub-key, so the settings tests
// that look at the file on POSIX look at the registry on Windows. TOML integers
// become REG_DWORD (REG_QWORD beyond 32 bits), strings REG_SZ in Windows-1252,
// and any other value REG_BINARY: the types the wrong-type rule must refuse.
#pragma once

#include <windows.h>

#include <toml++/toml.h>
#include <sstream>
#include <string>
#include <vector>

#include "util/codec.h"

namespace quorvane::testing {

inline constexpr const char* kProductKey = "Software\\Quorvane";

inline void ClearProductKey() {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
}

inline std::string RegistryAsToml() {
  toml::table root;
  HKEY product = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &product) != ERROR_SUCCESS)
    return {};
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (::RegEnumKeyExA(product, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    toml::table values;
    HKEY sub = nullptr;
    ::RegOpenKeyExA(product, name, 0, KEY_READ, &sub);
    for (DWORD k = 0;; ++k) {
      char value_name[256];
      DWORD name_length = sizeof value_name;
      DWORD type = 0;
      std::vector<BYTE> data(4096);
      DWORD size = static_cast<DWORD>(data.size());
      if (::RegEnumValueA(sub, k, value_name, &name_length, nullptr, &type, data.data(), &size) !=
          ERROR_SUCCESS)
        break;
      if (type == REG_DWORD)
        values.insert(value_name,
                      static_cast<std::int64_t>(*reinterpret_cast<std::int32_t*>(data.data())));
      else if (type == REG_QWORD)
        values.insert(value_name, *reinterpret_cast<std::int64_t*>(data.data()));
      else if (type == REG_SZ || type == REG_EXPAND_SZ)
        values.insert(value_name, Cp1252ToUtf8(reinterpret_cast<const char*>(data.data())));
    }
    ::RegCloseKey(sub);
    root.insert(std::string(name), std::move(values));
  }
  ::RegCloseKey(product);
  std::ostringstream text;
  text << root;
  return text.str();
}

inline void SetRegistryFromToml(const std::string& text) {
  ClearProductKey();
  const toml::table root = toml::parse(text);
  for (const auto& [sub_key, node] : root) {
    HKEY key = nullptr;
    const std::string path = std::string(kProductKey) + "\\" + std::string(sub_key.str());
    ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr);
    for (const auto& [name, value] : *node.as_table()) {
      const std::string value_name(name.str());
      if (const auto* integer = value.as_integer();
          integer && integer->get() == static_cast<std::int32_t>(integer->get())) {
        const DWORD dword = static_cast<DWORD>(integer->get());
        ::RegSetValueExA(key, value_name.c_str(), 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&dword), sizeof dword);
      } else if (integer) {
        const std::int64_t qword = integer->get();
        ::RegSetValueExA(key, value_name.c_str(), 0, REG_QWORD,
                         reinterpret_cast<const BYTE*>(&qword), sizeof qword);
      } else if (const auto* string = value.as_string()) {
        const std::string bytes = Utf8ToCp1252(string->get());
        ::RegSetValueExA(key, value_name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(bytes.c_str()),
                         static_cast<DWORD>(bytes.size() + 1));
      } else {
        const BYTE byte = 1;
        ::RegSetValueExA(key, value_name.c_str(), 0, REG_BINARY, &byte, 1);
      }
    }
    ::RegCloseKey(key);
  }
}

}  // namespace quorvane::testing
