// SOCKS 4 CONNECT: the request bytes, the reply parse, and the exchange over an
// in-memory stream (the reply read whole however it is cut, no byte of the frame
// stream taken, a refusal failing at once, a silent relay bounded in time).
#include "net/socks4.h"

#include <gtest/gtest.h>

#include <thread>

#include "net/pipe_stream.h"
#include "net/socket.h"

namespace quorvane {
namespace {

using testing::MakePipePair;

// Wire fixtures: the requests for the product's own relay targets, encoded only;
// no test connects to these addresses.
constexpr std::uint8_t kRequestLan2Port700[] = {0x04, 0x01, 0x02, 0xBC, 0xC0,
                                                0xA8, 0x00, 0x02, 0x00};
constexpr std::uint8_t kRequestLan3Port699[] = {0x04, 0x01, 0x02, 0xBB, 0xC0,
                                                0xA8, 0x00, 0x03, 0x00};
constexpr std::uint8_t kRequestLoopbackUser[] = {0x04, 0x01, 0x1F, 0x90, 0x7F, 0x00,
                                                 0x00, 0x01, 'b',  'o',  'b',  0x00};
constexpr std::array<std::uint8_t, 8> kReplyGranted = {0x00, 0x5A, 0x02, 0xBC,
                                                       0x7F, 0x00, 0x00, 0x02};
constexpr std::array<std::uint8_t, 8> kReplyRejected = {0x00, 0x5B, 0x02, 0xBC,
                                                        0x7F, 0x00, 0x00, 0x02};
constexpr std::array<std::uint8_t, 8> kReplyBadVersion = {0x05, 0x5A, 0, 0, 0, 0, 0, 0};

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::uint8_t (&array)[N]) {
  return std::vector<std::uint8_t>(array, array + N);
}

TEST(Socks4Request, MatchesTheWireFixtures) {
  EXPECT_EQ(BuildSocks4Connect("192.168.0.2", 700, ""), Bytes(kRequestLan2Port700));
  EXPECT_EQ(BuildSocks4Connect("192.168.0.3", 699, ""), Bytes(kRequestLan3Port699));
  EXPECT_EQ(BuildSocks4Connect("127.0.0.1", 8080, "bob"), Bytes(kRequestLoopbackUser));
  EXPECT_EQ(BuildSocks4Connect("192.168.0.2", 700, "").size(), 9u);
}

TEST(Socks4Request, AddressPartsKeepTheirLowEightBits) {
  // Each part is a decimal number stored as one byte, as the system always did.
  const auto request = BuildSocks4Connect("256.1.2.300", 1, "");
  EXPECT_EQ(request[4], 0);
  EXPECT_EQ(request[7], 300 & 0xFF);
}

TEST(Socks4Request, RefusesMalformedTargetsAndLongUserIds) {
  EXPECT_THROW(BuildSocks4Connect("192.168.0", 700, ""), std::invalid_argument);
  EXPECT_THROW(BuildSocks4Connect("server.example", 700, ""), std::invalid_argument);
  EXPECT_THROW(BuildSocks4Connect("1..2.3", 700, ""), std::invalid_argument);
  EXPECT_THROW(BuildSocks4Connect("", 700, ""), std::invalid_argument);
  EXPECT_THROW(BuildSocks4Connect("1.2.3.4", 70000, ""), std::out_of_range);
  EXPECT_THROW(BuildSocks4Connect("1.2.3.4", 700, std::string(255, 'u')), std::out_of_range);
  EXPECT_EQ(BuildSocks4Connect("1.2.3.4", 700, std::string(254, 'u')).size(), 9u + 254);
}

TEST(Socks4Reply, OnlyCode90IsGranted) {
  EXPECT_TRUE(ParseSocks4Reply(kReplyGranted).Granted());
  EXPECT_FALSE(ParseSocks4Reply(kReplyRejected).Granted());
  EXPECT_EQ(ParseSocks4Reply(kReplyRejected).code, 91);
  EXPECT_FALSE(ParseSocks4Reply(kReplyBadVersion).Granted());
  EXPECT_NE(Socks4ReplyText(ParseSocks4Reply(kReplyRejected)).find("91"), std::string::npos);
}

// The relay's side of the exchange over a pipe: checks the request, answers.
class Socks4Exchange : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> ReadRequest(std::size_t n) {
    std::vector<std::uint8_t> got(n);
    std::size_t have = 0;
    while (have < n) {
      const IoResult r = relay_->ReadSome(got.data() + have, n - have, 5000);
      if (r.status != IoStatus::kOk) break;
      have += r.count;
    }
    got.resize(have);
    return got;
  }
  void Answer(const std::uint8_t* bytes, std::size_t n) {
    ASSERT_EQ(relay_->WriteAll(bytes, n, 1000).status, IoStatus::kOk);
  }

  std::unique_ptr<testing::PipeEnd> client_;
  std::unique_ptr<testing::PipeEnd> relay_;
  void SetUp() override { std::tie(client_, relay_) = MakePipePair(); }
};

TEST_F(Socks4Exchange, ReadsASplitReplyWholeAndLeavesTheFrameBytes) {
  std::thread relay([this] {
    EXPECT_EQ(ReadRequest(9), Bytes(kRequestLan2Port700));
    // The reply in three deliveries, followed at once by the first frame byte.
    Answer(kReplyGranted.data(), 1);
    Answer(kReplyGranted.data() + 1, 4);
    const std::uint8_t rest[] = {kReplyGranted[5], kReplyGranted[6], kReplyGranted[7], 'K'};
    Answer(rest, sizeof rest);
  });
  EXPECT_NO_THROW(NegotiateSocks4(*client_, "192.168.0.2", 700, "", 5000));
  relay.join();
  std::uint8_t next = 0;
  const IoResult r = client_->ReadSome(&next, 1, 1000);
  ASSERT_EQ(r.status, IoStatus::kOk);
  EXPECT_EQ(next, 'K');
}

TEST_F(Socks4Exchange, ARefusalFailsAtOnce) {
  std::thread relay([this] {
    ReadRequest(9);
    Answer(kReplyRejected.data(), kReplyRejected.size());
  });
  // With a long limit: a refusal must not wait for it.
  try {
    NegotiateSocks4(*client_, "192.168.0.2", 700, "", 120'000);
    ADD_FAILURE() << "a refused request was taken as connected";
  } catch (const ESocketOpenError& error) {
    EXPECT_EQ(error.failure(), SocketFailure::kRelayRefused);
  }
  relay.join();
}

TEST_F(Socks4Exchange, ASilentOrShortRelayIsBoundedInTime) {
  std::thread relay([this] {
    ReadRequest(9);
    Answer(kReplyGranted.data(), 5);  // then nothing
  });
  try {
    NegotiateSocks4(*client_, "192.168.0.2", 700, "", 100);
    ADD_FAILURE() << "a cut reply was accepted";
  } catch (const ESocketOpenError& error) {
    EXPECT_EQ(error.failure(), SocketFailure::kRelaySilent);
    EXPECT_NE(std::string(error.what()).find("5 of 8"), std::string::npos) << error.what();
  }
  relay.join();
}

TEST_F(Socks4Exchange, ARelayThatHangsUpMidReplyFails) {
  std::thread relay([this] {
    ReadRequest(9);
    Answer(kReplyGranted.data(), 3);
    relay_->Shutdown();
  });
  EXPECT_THROW(NegotiateSocks4(*client_, "192.168.0.2", 700, "", 5000), ESocketOpenError);
  relay.join();
}

}  // namespace
}  // namespace quorvane
