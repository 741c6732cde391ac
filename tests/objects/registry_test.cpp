#include <gtest/gtest.h>

#include "model/class_registry.h"
#include "model/message_box.h"
#include "objects/enums.h"
#include "objects/register_classes.h"
#include "objects_test_support.h"

namespace quorvane {
namespace {

class RecordingMessages : public MessageBoxService {
 public:
  void ShowMessage(const std::string&, const std::string& text) override { texts.push_back(text); }
  bool AskQuestion(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> texts;
};

using RegistryTest = test::ObjectsTest;

TEST_F(RegistryTest, TableIndexIsTypeCodeAndOrdinal) {
  for (int index = 0; index < static_cast<int>(test::kRegisteredNames.size()); ++index) {
    const std::string name = test::kRegisteredNames[static_cast<std::size_t>(index)];
    const RegisteredClass* registered = FindClass(name);
    ASSERT_NE(registered, nullptr) << name;
    EXPECT_EQ(registered->type_code, index) << name;
    const std::unique_ptr<TZelObject> object = registered->create();
    EXPECT_EQ(object->ClassName(), name);
    EXPECT_EQ(object->TypeCode(), index) << name;
  }
  EXPECT_EQ(TypeZelObjectEnum().NameOf(tvo_xFile), "tvo_xFile");
  EXPECT_EQ(TypeZelObjectEnum().NameOf(17), "tvo_Partner");
  EXPECT_EQ(TypeZelObjectEnum().members.size(), test::kRegisteredNames.size());
}

TEST_F(RegistryTest, KeepsAClassAlreadyRegisteredUnderTheNameAndReportsNothing) {
  RecordingMessages messages;
  InstallMessageBoxService(&messages);
  UnregisterAllClasses();
  RegisterClass("TSOFile", &CreateInstance<TZelObject>, 99);
  RegisterClasses();
  RegisterClasses();
  EXPECT_EQ(FindClass("TSOFile")->type_code, 99);
  EXPECT_EQ(FindClass("TZelSObjectPartner")->type_code, 17);
  EXPECT_TRUE(messages.texts.empty());
  InstallMessageBoxService(nullptr);
  UnregisterAllClasses();
  RegisterClasses();
}

}  // namespace
}  // namespace quorvane
