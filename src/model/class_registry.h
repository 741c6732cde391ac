// The class registry: class names to factories and type codes, so that a reader
// can recreate any registered object from its class name. Filled once at start-up
// (before any object is read, before other threads start); lookups are then
// read-only and safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace quorvane {

class TZelObject;

using ObjectFactory = std::unique_ptr<TZelObject> (*)();

struct RegisteredClass {
  std::string name;
  ObjectFactory create = nullptr;
  int type_code = 0;
};

// Registers the class unless the name is taken already; returns false when taken.
bool RegisterClass(std::string name, ObjectFactory create, int type_code);
// Exact name lookup; nullptr when the name is not registered.
const RegisteredClass* FindClass(std::string_view name);
// Empties the registry (tests only).
void UnregisterAllClasses();

template <typename T>
std::unique_ptr<TZelObject> CreateInstance() {
  return std::make_unique<T>(nullptr);
}

}  // namespace quorvane
