#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model_test_support.h"
#include "util/errors.h"
#include "util/system_info.h"

namespace quorvane {
namespace {

using test::TTestCard;

class ZelObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterModelTestClasses(); }
};

TEST_F(ZelObjectTest, NewObjectHasNullIdentifierAndGeneratedName) {
  TZelObject object;
  EXPECT_EQ(object.GetId(), "{00000000-0000-0000-0000-000000000000}");
  EXPECT_TRUE(object.IdIsNull());
  const std::string& name = object.Name();
  ASSERT_EQ(name.size(), std::string("TZelObject_").size() + 38);
  EXPECT_EQ(name.substr(0, 11), "TZelObject_");
  EXPECT_EQ(name[11], 'N');
  EXPECT_EQ(name.back(), 'Z');
  EXPECT_TRUE(IsValidComponentName(name));
  TTestCard card;
  EXPECT_EQ(card.Name().substr(0, 10), "TTestCard_");
  EXPECT_EQ(object.TypeId(), "{10000000-0000-0000-0000-000000000000}");
}

TEST_F(ZelObjectTest, SetIdAcceptsOnlyTheRegistryForm) {
  TZelObject object;
  object.SetId("  {12345678-9ABC-DEF0-1234-56789ABCDEF0} ");
  EXPECT_EQ(object.GetId(), "{12345678-9ABC-DEF0-1234-56789ABCDEF0}");
  object.SetId("{12345678-9ABC-DEF0-1234-56789ABCDEF}");  // 37 characters
  EXPECT_TRUE(object.IdIsNull());
  object.SetId("{12345678-9ABC-DEF0-1234-56789ABCDEF00}");  // 39 characters
  EXPECT_TRUE(object.IdIsNull());
  EXPECT_THROW(object.SetId("{12345678-9ABC-DEF0-1234+56789ABCDEF0}"), EConvertError);
  object.EnsureId();
  EXPECT_FALSE(object.IdIsNull());
  const std::string first = object.GetId();
  object.EnsureId();
  EXPECT_EQ(object.GetId(), first);
}

TEST_F(ZelObjectTest, NamesAreValidComponentNames) {
  TZelObject object;
  EXPECT_THROW(object.SetName("1abc"), std::invalid_argument);
  EXPECT_THROW(object.SetName("a b"), std::invalid_argument);
  object.SetName("_a1");
  EXPECT_EQ(object.Name(), "_a1");
}

TEST_F(ZelObjectTest, FullNameWalksParentsAndSkipsSelfNames) {
  TZelObject root;
  root.SetName("ByMe");
  TZelObject middle(&root);
  middle.SetName("xSelfHolder");
  TZelObject leaf(&middle);
  leaf.SetName("Leaf");
  leaf.SetPersistName("Identification");
  EXPECT_EQ(leaf.FullName(), "ByMe.Identification");
  middle.SetName("Mid");
  EXPECT_EQ(leaf.FullName(), "ByMe.Mid.Identification");
  EXPECT_EQ(leaf.FileName(), TZelObject::BaseFolder() + "DB\\ByMe.Mid.Identification.zub");
  leaf.SetFileName("DB\\customer.by");
  EXPECT_EQ(leaf.FileName(), TZelObject::BaseFolder() + "DB\\customer.by.zub");
}

TEST_F(ZelObjectTest, LinksFollowTheTreeAndSurviveEitherDestructionOrder) {
  test::RecordingStore store;
  auto parent = std::make_unique<TZelObject>();
  parent->SetDataTransfer(&store);
  auto child = std::make_unique<TZelObject>(parent.get());
  EXPECT_EQ(child->DataTransfer(), &store);  // copied at construction
  TZelObject grandchild(child.get());
  parent->SetDataTransfer(nullptr);
  EXPECT_EQ(grandchild.DataTransfer(), nullptr);  // passed down the whole tree
  parent->SetIdentification(parent.get());
  EXPECT_EQ(grandchild.Identification(), parent.get());

  child.reset();  // the grandchild outlives its parent
  EXPECT_EQ(grandchild.Parent(), nullptr);
  EXPECT_TRUE(parent->LinkedObjects().empty());

  TZelObject other;
  grandchild.LinkTo(parent.get());
  grandchild.LinkTo(&other);  // moves, never listed twice
  EXPECT_TRUE(parent->LinkedObjects().empty());
  ASSERT_EQ(other.LinkedObjects().size(), 1u);
  parent.reset();
}

// The incoming-stack link is the model's own interface: any implementation
// travels down the tree, and objects hand others to it without knowing the
// transport's stack class.
TEST_F(ZelObjectTest, IncomingStackLinkIsAModelInterface) {
  struct Sink : IncomingObjectSink {
    void Push(std::unique_ptr<TZelObject> object) override { names.push_back(object->Name()); }
    std::vector<std::string> names;
  } sink;
  TZelObject root;
  TZelObject child(&root);
  root.SetStackManager(&sink);
  EXPECT_EQ(child.StackManager(), &sink);
  auto posted = std::make_unique<TZelObject>();
  posted->SetName("Posted");
  child.StackManager()->Push(std::move(posted));
  EXPECT_EQ(sink.names, std::vector<std::string>{"Posted"});
  root.SetStackManager(nullptr);
  EXPECT_EQ(child.StackManager(), nullptr);
}

TEST_F(ZelObjectTest, PersistenceFollowsThePersistentFlag) {
  test::RecordingStore store;
  TZelObject object;
  object.SetDataTransfer(&store);
  EXPECT_TRUE(object.Open());  // no persistence name: no longer persistent
  EXPECT_FALSE(object.IsPersistent());
  EXPECT_FALSE(object.SaveToFile());
  EXPECT_TRUE(store.saved_path.empty());

  TZelObject kept;
  kept.SetDataTransfer(&store);
  kept.SetPersistName("Identification");
  EXPECT_TRUE(kept.Close());
  EXPECT_EQ(store.saved_path, kept.FileName());
  EXPECT_TRUE(kept.IsRoutingStored());  // set again after the save
  TZelObject no_store;
  EXPECT_FALSE(no_store.SaveToPath("x.zub"));
  EXPECT_FALSE(no_store.LoadFromPath("x.zub"));
}

TEST_F(ZelObjectTest, CloneCopiesThroughTheStream) {
  TZelObject parent;
  TTestCard card(&parent);
  card.SetName("X");
  card.EnsureId();
  card.xsNickName = "Bob";
  card.xLines->Add("l1");
  card.xAmount = 12.5;
  auto copy = card.Clone();
  auto* copied = dynamic_cast<TTestCard*>(copy.get());
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->Name(), "Clone_de_X");
  EXPECT_EQ(copied->GetId(), card.GetId());
  EXPECT_EQ(copied->xsNickName, "Bob");
  EXPECT_EQ(copied->xLines->Lines(), std::vector<std::string>{"l1"});
  EXPECT_EQ(copied->xAmount, 12.5);
  EXPECT_EQ(copied->Parent(), &parent);
}

TEST_F(ZelObjectTest, AddressingSetsRoutingProperties) {
  TZelObject object;
  object.SetUsersTo(1);
  EXPECT_EQ(object.ZelUsersToID().Lines(),
            std::vector<std::string>{"{00000000-0000-0000-0000-000000000002}"});
  object.SetUsersTo(3);
  EXPECT_EQ(object.ZelUsersToID().Lines(),
            std::vector<std::string>{"{00000000-0000-0000-0000-000000000001}"});
  object.SetUsersTo(2);
  EXPECT_EQ(object.ZelUsersToID().Count(), 1u);
  object.SetWhoTo("{10000000-0000-0000-1000-000000000005}trailing");
  EXPECT_EQ(object.WhoTo(), "{10000000-0000-0000-1000-000000000005}");
  TZelObject sender;
  sender.SetTypeId("{10000000-0000-0000-0000-100000000011}");
  object.SetWhoFrom(&sender);
  object.SetWhoAnswerToObject(&sender);
  EXPECT_EQ(object.WhoFrom(), sender.TypeId());
  EXPECT_EQ(object.WhoAnswerTo(), sender.TypeId());
  EXPECT_TRUE(object.IsAttached());
  object.Post();
  EXPECT_FALSE(object.IsAttached());
}

TEST_F(ZelObjectTest, TargetNumberComesFromTheHostNames) {
  TZelObject object;
  TZelObject::SetTargetHostNames({"", "", ""});
  EXPECT_EQ(object.TargetNumber(), 2);
  TZelObject::SetTargetHostNames({"none-1", "none-2", ComputerName()});
  EXPECT_EQ(object.TargetNumber(), 3);
  TZelObject::SetTargetHostNames({"", "", ""});
}

TEST_F(ZelObjectTest, ReadingIntoAnExistingObjectKeepsAbsentProperties) {
  TTestCard source;
  source.SetName("Src");
  source.xsNickName = "Nick";
  TTestCard target;
  target.xsWeb = "kept";
  target.xsNickName = "replaced";
  ObjectReader(ObjectToStream(source)).ReadRootInto(target);
  EXPECT_EQ(target.Name(), "Src");
  EXPECT_EQ(target.xsNickName, "Nick");
  EXPECT_EQ(target.xsWeb, "kept");
}

TEST_F(ZelObjectTest, DeepCollectionsAndChildObjectsAreBounded) {
  // a child object of an unknown class is refused, not skipped blindly
  std::string stream = ObjectToStream(TZelObject());
  stream.pop_back();
  stream += test::Bytes(
      "\x04TFoo\x01"
      "A\x00\x00\x00",
      10);
  EXPECT_THROW(ObjectFromStream(stream), EReadError);
}

}  // namespace
}  // namespace quorvane
