#include "model/class_registry.h"

#include <map>
#include <mutex>

namespace quorvane {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, RegisteredClass, std::less<>> classes;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

bool RegisterClass(std::string name, ObjectFactory create, int type_code) {
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  if (registry.classes.count(name) != 0) return false;
  registry.classes.emplace(name, RegisteredClass{name, create, type_code});
  return true;
}

const RegisteredClass* FindClass(std::string_view name) {
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  const auto it = registry.classes.find(name);
  return it == registry.classes.end() ? nullptr : &it->second;
}

void UnregisterAllClasses() {
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  registry.classes.clear();
}

}  // namespace quorvane
