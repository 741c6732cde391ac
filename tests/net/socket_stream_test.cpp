// The system's socket stream over a connected pair (a socketpair on POSIX, a
// loopback connection on Windows): a write longer than the
// socket buffers is looped until a slow reader has it all, a reader that never
// reads makes the write time out with what was written, and Shutdown from another
// thread wakes a read blocked for a long time. Plus the open failures that need no
// peer: an empty address, a host name that is never looked up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/socket.h"
#include "net/socket_pair.h"
#include "net/socket_stream.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

struct Pair {
  explicit Pair(bool small_writer = false) {
    const testing::NativeSocketPair pair = testing::MakeSocketPair(4096, small_writer);
    a = AdoptConnectedSocket(pair.first);
    b = AdoptConnectedSocket(pair.second);
  }
  std::unique_ptr<ByteStream> a;
  std::unique_ptr<ByteStream> b;
};

TEST(NativeStream, LoopsOverShortWritesUntilASlowReaderHasEverything) {
  Pair pair;
  std::string sent(3'000'000, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<char>(i * 7);
  std::string received;
  std::thread reader([&] {
    std::string block(1000, '\0');
    while (received.size() < sent.size()) {
      const IoResult r = pair.b->ReadSome(block.data(), block.size(), 10'000);
      if (r.status != IoStatus::kOk) break;
      received.append(block.data(), r.count);
    }
  });
  const IoResult written = pair.a->WriteAll(sent.data(), sent.size(), 30'000);
  reader.join();
  EXPECT_EQ(written.status, IoStatus::kOk);
  EXPECT_EQ(written.count, sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(NativeStream, AWriteToAPeerThatNeverReadsTimesOutWithTheCountWritten) {
  // Else the loopback's send buffer (Wine's included) grows until it takes it all.
  Pair pair(true);
  const std::string big(4'000'000, 'x');
  const IoResult written = pair.a->WriteAll(big.data(), big.size(), 100);
  EXPECT_EQ(written.status, IoStatus::kTimeout);
  EXPECT_GT(written.count, 0u);
  EXPECT_LT(written.count, big.size());
}

TEST(NativeStream, ShutdownWakesABlockedReadAndLaterCallsEndAtOnce) {
  Pair pair;
  IoResult result;
  std::thread reader([&] {
    char byte = 0;
    result = pair.a->ReadSome(&byte, 1, 600'000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto before = Clock::now();
  pair.a->Shutdown();
  reader.join();
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(30));
  EXPECT_EQ(result.status, IoStatus::kClosed);
  EXPECT_TRUE(pair.a->WaitReadable(600'000));
  char byte = 0;
  EXPECT_EQ(pair.a->WriteAll(&byte, 1, 600'000).status, IoStatus::kClosed);
  // The peer sees the end of the stream.
  EXPECT_EQ(pair.b->ReadSome(&byte, 1, 1000).status, IoStatus::kClosed);
}

TEST(NativeStream, AReadWithNothingToReadTimesOut) {
  Pair pair;
  char byte = 0;
  EXPECT_EQ(pair.a->ReadSome(&byte, 1, 30).status, IoStatus::kTimeout);
  EXPECT_FALSE(pair.a->WaitReadable(30));
}

TEST(OpenSocketStream, AnEmptyAddressAndAHostNameFailWithoutLookingAnythingUp) {
  SocketTarget target;
  target.port = 700;
  try {
    OpenSocketStream(target);
    ADD_FAILURE();
  } catch (const ESocketError& error) {
    EXPECT_EQ(std::string(error.what()), NoAddressText());
  }
  target.address = "localhost";
  try {
    OpenSocketStream(target);
    ADD_FAILURE();
  } catch (const ESocketError& error) {
    EXPECT_NE(std::string(error.what()).find("avec l'API 'connect'"), std::string::npos);
  }
  target.address = "127.0.0.1";
  target.port = 70000;
  EXPECT_THROW(OpenSocketStream(target), std::out_of_range);
}

TEST(SocketStream, ReadIntoAfterCancelReadsNothingAndAStreamWithoutSocketReadsZero) {
  Pair pair;
  ASSERT_EQ(pair.b->WriteAll("abc", 3, 1000).status, IoStatus::kOk);
  TZelObject owner(nullptr);
  std::vector<std::uint8_t> block(5, 'x');
  TZelSocketStream stream(&owner, 1000, pair.a.get());
  stream.Cancel();
  EXPECT_FALSE(stream.ReadInto(block));
  char got[3] = {};
  ASSERT_EQ(pair.a->ReadSome(got, 3, 1000).count, 3u);  // still there: nothing was read
  TZelSocketStream unconnected(&owner, 1000, nullptr);
  EXPECT_EQ(unconnected.Read(got, 3), 0u);
  EXPECT_FALSE(unconnected.WaitForData(10));
}

TEST(OpenSocketStream, ARefusedConnectSaysWhyInTheSystemsWords) {
  SocketTarget target;
  target.address = "127.0.0.1";
  target.port = 1;  // nothing listens there
  try {
    OpenSocketStream(target);
    ADD_FAILURE();
  } catch (const ESocketOpenError& error) {
    EXPECT_EQ(error.failure(), SocketFailure::kRefused);
    const std::string what = error.what();
    const std::string head = "Erreur socket Windows : ";
    ASSERT_EQ(what.rfind(head, 0), 0u) << what;
    EXPECT_NE(what.substr(head.size(), 2), " (") << "no system text in: " << what;
  }
}

TEST(HostIpv4Address, LoopbackNamesResolveToIpv4) {
  EXPECT_EQ(HostIpv4Address("127.0.0.3"), "127.0.0.3");
  EXPECT_EQ(HostIpv4Address("localhost"), "127.0.0.1");
  EXPECT_EQ(HostIpv4Address(""), "");
}

}  // namespace
}  // namespace quorvane
