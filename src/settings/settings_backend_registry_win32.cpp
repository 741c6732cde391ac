// The Windows settings store: HKEY_CURRENT_USER\Software\Quorvane\<sub-key>,
// integers as REG_DWORD and strings as REG_SZ (REG_EXPAND_SZ is read too,
// unexpanded). The ANSI functions keep strings in the Windows-1252 code page.
#include <windows.h>

#include <string>
#include <vector>

#include "settings/settings_backend.h"

namespace quorvane {
namespace {

constexpr const char* kProductKey = "Software\\Quorvane\\";

// An open key of the product, created when missing (a read creates the key
// path, never a value). Closed by the destructor.
class ProductKey {
 public:
  explicit ProductKey(std::string_view sub_key) {
    const std::string path = kProductKey + std::string(sub_key);
    const LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                           KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    if (status != ERROR_SUCCESS) {
      throw ESettingsError("settings: cannot open the registry key HKCU\\" + path + " (error " +
                           std::to_string(status) + ")");
    }
  }
  ~ProductKey() { RegCloseKey(key_); }
  ProductKey(const ProductKey&) = delete;
  ProductKey& operator=(const ProductKey&) = delete;

  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

void CheckWrite(LSTATUS status, std::string_view name) {
  if (status != ERROR_SUCCESS) {
    throw ESettingsError("settings: cannot write the registry value " + std::string(name) +
                         " (error " + std::to_string(status) + ")");
  }
}

class RegistrySettingsBackend final : public SettingsBackend {
 public:
  std::int32_t ReadInteger(std::string_view sub_key, std::string_view name) override {
    ProductKey key(sub_key);
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const std::string value_name(name);
    if (RegQueryValueExA(key.get(), value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
      return 0;
    }
    return static_cast<std::int32_t>(data);
  }

  std::string ReadString(std::string_view sub_key, std::string_view name) override {
    ProductKey key(sub_key);
    const std::string value_name(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), value_name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return std::string();
    }
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(key.get(), value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
      return std::string();
    }
    // The stored size may or may not count the terminating null.
    return std::string(data.data());
  }

  void WriteInteger(std::string_view sub_key, std::string_view name, std::int32_t value) override {
    ProductKey key(sub_key);
    const DWORD data = static_cast<DWORD>(value);
    CheckWrite(RegSetValueExA(key.get(), std::string(name).c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&data), sizeof data),
               name);
  }

  void WriteString(std::string_view sub_key, std::string_view name,
                   std::string_view value) override {
    ProductKey key(sub_key);
    const std::string data(value);
    CheckWrite(RegSetValueExA(key.get(), std::string(name).c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>(data.size() + 1)),
               name);
  }
};

}  // namespace

std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend() {
  return std::make_unique<RegistrySettingsBackend>();
}

}  // namespace quorvane
