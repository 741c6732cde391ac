#include "model_test_support.h"

#include "model/object_stream.h"

namespace quorvane::test {

bool RecordingStore::SaveObject(TZelObject& object, const std::string& path, FileSaveMode,
                                std::uint8_t) {
  saved_path = path;
  saved_stream = ObjectToStream(object);
  return true;
}

}  // namespace quorvane::test

namespace quorvane::test {

void RegisterModelTestClasses() {
  RegisterClass("TZelObject", &CreateInstance<TZelObject>, 0);
  RegisterClass("TTestCard", &CreateTestCard, 99);
}

const ClassInfo& TTestCard::StaticClass() {
  static const EnumInfo flag{"TxTypeOfSex", {"tos_nop", "tos_Male", "tos_Female"}};
  static const ClassInfo info = MakeClassInfo(
      "TTestCard", &TZelObject::StaticClass(),
      {Prop::String<&TTestCard::xsNickName>("xsNickName"), Prop::String<&TTestCard::xsWeb>("xsWeb"),
       Prop::String<&TTestCard::xsNotes>("xsNotes"), Prop::String<&TTestCard::xsBig>("xsBig"),
       Prop::Integer<&TTestCard::xnSize>("xnSize", "TxFileSize"),
       Prop::Enum<&TTestCard::xFlag>("xFlag", flag),
       Prop::Float<&TTestCard::xAmount>("xAmount", "TxMoney"),
       Prop::Object<&TTestCard::xLines>("xLines", "TStringList")});
  return info;
}

void TTestCard::DeclareProps() {
  Props().DeclareProp("xsNickName", "nick_name", 30, kDefaultRoles, "Surnom");
  Props().DeclareProp("xsWeb", "WebPage", 20, kDefaultRoles, "Site");
  Props().DeclareProp("xsNotes", "Notes", 30, topr_ColDisplay, "Notes");
  Props().DeclareProp("xsBig", "Big", 10, topr_CanBeFat, "Big");
  Props().DeclareProp("xnSize", "Size", 0, topr_ColDisplay, "Taille");
  Props().DeclareProp("xFlag", "Sex", 0, kDefaultRoles, "Sexe");
  Props().DeclareProp("xLines", "Lines", 0, topr_ColDisplay, "Lignes");
}

}  // namespace quorvane::test
