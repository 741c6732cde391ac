// Picture resources: an avatar and a named bitmap, which list views draw. Not
// thread-safe; the object's lock guards its state.
#pragma once

#include <memory>
#include <string>

#include "model/zel_object.h"
#include "objects/enums.h"

namespace quorvane {

class TRessourceAvatar : public TZelObject {
 public:
  explicit TRessourceAvatar(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_ResAvatar; }
  void DeclareProps() override;

  std::string xResName;
  std::unique_ptr<TBitmap> xBitmap = std::make_unique<TBitmap>();
};

// Its bitmap is drawn transparent (the platform's default-colour value), which
// only a list view does.
class TxRessourceBitmap : public TZelObject {
 public:
  explicit TxRessourceBitmap(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_ResBmp; }
  void DeclareProps() override;

  std::string xResName;
  std::unique_ptr<TBitmap> xBitmap = std::make_unique<TBitmap>();
};

}  // namespace quorvane
