#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "model/zel_props.h"
#include "objects/customer.h"
#include "objects_test_support.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace literals;
using test::StreamName;
using CustomerTest = test::ObjectsTest;

TEST_F(CustomerTest, CaptionPutsTheNickNameFirst) {
  TZelSObjectCustomerIdentification card;
  card.xsFirstName = "B";
  card.xsLastName = "A";
  EXPECT_EQ(card.Caption(), " A B");
  card.xsNickName = "Zed";
  EXPECT_EQ(card.Caption(), "Zed A B");
}

TEST_F(CustomerTest, RoutingStoredBooleansTravelButStayOutOfFiles) {
  TZelSObjectCustomerIdentification card;
  card.xbConnected = true;
  card.xbIsUs = true;
  const std::string wire = ObjectToStream(card);
  EXPECT_NE(wire.find(StreamName("xbConnected") + "\x09"), std::string::npos);
  EXPECT_NE(wire.find(StreamName("xbIsUs") + "\x09"), std::string::npos);
  EXPECT_NE(wire.find(StreamName("xbAccepted") + "\x08"), std::string::npos);

  const std::string file = test::FileForm(card);
  ASSERT_FALSE(file.empty());
  for (const char* name : {"xbConnected", "xbIsUs", "xbAccepted", "ZelNumber"})
    EXPECT_EQ(file.find(name), std::string::npos) << name;
  // Ordinals without a declared default are always written, even in files.
  EXPECT_NE(file.find(StreamName("xSex") + "\x07" + StreamName("tos_nop")), std::string::npos);
  EXPECT_NE(file.find(StreamName("xnJob_ID") + test::Bytes("\x02\x00")), std::string::npos);
  EXPECT_TRUE(card.IsRoutingStored());
}

TEST_F(CustomerTest, DeclarationsGiveColumnsTypesAndCaptions) {
  TZelSObjectCustomerIdentification card;
  TZelProps& props = card.Props();
  ASSERT_EQ(props.Count(), 53u);
  const auto item = [&](const char* name) -> const TZelProp& {
    return props.Items(props.IndexOfProp(name));
  };
  EXPECT_EQ(item("xsWeb").xDataSetFieldName, "WEBPAGE");
  EXPECT_EQ(item("xsWeb").xSize, 20);
  EXPECT_EQ(item("xsWeb").xTypeOfProps, kDefaultRoles);
  EXPECT_EQ(item("xsFirstName").xTitle, "Prénom"_w);
  EXPECT_EQ(item("xSex").xDataType, ftSmallint);
  EXPECT_EQ(item("xPhoto").xDataType, ftGraphic);
  EXPECT_EQ(item("xbConnected").xDataType, ftBoolean);
  // Not declared: keeps its placeholder.
  EXPECT_EQ(item("xbAccepted").xName(), "_38");
  EXPECT_EQ(item("xbAccepted").xTypeOfProps, 0);
  EXPECT_EQ(props.IndexOfColumn("nick_name"), props.IndexOfProp("xsNickName"));

  card.xsLastName = "A";
  EXPECT_NE(card.PropsText().find("Nom: A"), std::string::npos);
}

TEST_F(CustomerTest, PartnerIdentifierIsAlways38Wide) {
  TZelSObjectPartner partner;
  TZelProps& props = partner.Props();
  const TZelProp& id = props.Items(props.IndexOfProp("xsIDCustomer"));
  EXPECT_EQ(id.xSize, 38);
  EXPECT_EQ(id.xDataType, ftString);
  EXPECT_EQ(id.xDataSetFieldName, "CUS_MERXID");
}

TEST_F(CustomerTest, ConnectedUserNamesItselfAndDescribesItsConnection) {
  TZelConnectedUser user;
  EXPECT_EQ(user.Name().rfind("ConnectedUser_N", 0), 0u);
  EXPECT_EQ(user.Name().size(), std::string("ConnectedUser_").size() + 38);
  EXPECT_EQ(user.TypeId(), kTypeIdConnectedUser);
  user.SetName("U");
  user.nick_name = "Bob";
  user.computer_name = "PC1";
  user.ip_address = "127.0.0.1";
  user.port = 700;
  user.socks_info->Address = "127.0.0.2";
  user.socks_info->Port = 1080;
  EXPECT_EQ(user.DisplayName(),
            "UNck[Bob] ID[{00000000-0000-0000-0000-000000000000}] Cmptr[PC1] I[127.0.0.1] "
            "P[700] xI[127.0.0.2] xP[1080]");
  // None of the fields is published.
  EXPECT_EQ(ObjectToStream(user).find("Bob"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
