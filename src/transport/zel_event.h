// TZelEvent: the framework's event record, posted by connection threads through the
// application object. This program has no application object, so posted events are
// not delivered (PostEvent frees them). A record is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvane {

class TZelObject;

inline constexpr int kEventEndOfThread = 2;

class TZelEvent {
 public:
  TZelEvent(std::int32_t kind, bool owns_attached, TZelObject* attached, std::string message,
            std::int32_t value1, std::int32_t value2, std::string command, std::string receiver_id);
  TZelEvent(std::int32_t kind, bool owns_attached, TZelObject* attached, std::int32_t value1,
            std::int32_t value2, std::string command, std::string receiver_id);
  ~TZelEvent();
  TZelEvent(const TZelEvent&) = delete;
  TZelEvent& operator=(const TZelEvent&) = delete;

  std::int32_t kind = 0;
  std::string sender_id;    // at most 38 characters
  std::string receiver_id;  // at most 38 characters
  std::string command;      // at most 50 characters
  std::int32_t value1 = 0;
  std::int32_t value2 = 0;
  TZelObject* attached = nullptr;
  std::string message;  // at most 255 characters
  bool owns_attached = false;
};

// Posts the event from the sender: the sender identifier is taken from the sender's
// framework type identifier. Without an application object the event is dropped.
void PostEvent(const TZelObject& sender, std::unique_ptr<TZelEvent> event);

}  // namespace quorvane
