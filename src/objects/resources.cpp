#include "objects/resources.h"

#include "model/zel_props.h"

namespace quorvane {

const ClassInfo& TRessourceAvatar::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TRessourceAvatar", &TZelObject::StaticClass(),
                    {Prop::String<&TRessourceAvatar::xResName>("xResName"),
                     Prop::Object<&TRessourceAvatar::xBitmap>("xBitmap", "TBitmap")});
  return info;
}

TRessourceAvatar::TRessourceAvatar(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TRessourceAvatar::DeclareProps() {
  Props().DeclareProp("xResName", "AVA_NAME", 50, kDefaultRoles, "Nom");
  Props().DeclareProp("xBitmap", "AVA_ICON", 0, topr_ToDBE | topr_FromDBE, "Avatar");
}

const ClassInfo& TxRessourceBitmap::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TxRessourceBitmap", &TZelObject::StaticClass(),
                    {Prop::String<&TxRessourceBitmap::xResName>("xResName"),
                     Prop::Object<&TxRessourceBitmap::xBitmap>("xBitmap", "TBitmap")});
  return info;
}

TxRessourceBitmap::TxRessourceBitmap(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TxRessourceBitmap::DeclareProps() {
  Props().DeclareProp("xResName", "BMP_NAME", 50, kDefaultRoles, "Nom");
  Props().DeclareProp("xBitmap", "BMP_IMAGE", 0, kDefaultRoles, "Bitmap");
}

}  // namespace quorvane
