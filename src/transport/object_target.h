// Where an incoming buffer delivers the objects it decodes, each with the memory
// it holds of its connection's budget. The incoming stack implements it; the
// connection manager hands it to every connection it opens, as it does the frame
// folders. Push may be called from any receive thread.
#pragma once

#include <memory>

#include "transport/memory_account.h"

namespace quorvane {

class TZelObject;

class IncomingObjectTarget {
 public:
  virtual ~IncomingObjectTarget() = default;
  // Takes the object, holding `charge` until the object is popped; a null
  // object changes nothing.
  virtual void Push(std::unique_ptr<TZelObject> object, MemoryCharge charge) = 0;
};

}  // namespace quorvane
