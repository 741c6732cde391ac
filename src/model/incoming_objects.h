// Where received objects go: the incoming object stack lives in the transport
// layer, above this one, so objects only hold a link to this small interface,
// which the stack implements, and pass it down their trees.
#pragma once

#include <memory>

namespace quorvane {

class TZelObject;

class IncomingObjectSink {
 public:
  virtual ~IncomingObjectSink() = default;
  // Takes the object; a null object changes nothing. Safe from any thread.
  virtual void Push(std::unique_ptr<TZelObject> object) = 0;
};

}  // namespace quorvane
