#include "transport/zel_event.h"

#include "model/zel_object.h"

namespace quorvane {
namespace {

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

}  // namespace

TZelEvent::TZelEvent(std::int32_t kind_value, bool owns, TZelObject* attached_object,
                     std::string message_text, std::int32_t v1, std::int32_t v2,
                     std::string command_text, std::string receiver)
    : kind(kind_value),
      receiver_id(Cut(std::move(receiver), 38)),
      command(Cut(std::move(command_text), 50)),
      value1(v1),
      value2(v2),
      attached(attached_object),
      message(Cut(std::move(message_text), 255)),
      owns_attached(owns) {}

TZelEvent::TZelEvent(std::int32_t kind_value, bool owns, TZelObject* attached_object,
                     std::int32_t v1, std::int32_t v2, std::string command_text,
                     std::string receiver)
    : TZelEvent(kind_value, owns, attached_object, std::string(), v1, v2, std::move(command_text),
                std::move(receiver)) {}

TZelEvent::~TZelEvent() {
  if (owns_attached) delete attached;
}

void PostEvent(const TZelObject& sender, std::unique_ptr<TZelEvent> event) {
  if (!event) return;
  event->sender_id = Cut(sender.TypeId(), 38);
  // No application object exists in this program to queue the event on.
}

}  // namespace quorvane
