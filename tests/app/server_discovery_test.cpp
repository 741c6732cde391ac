#include "app/server_discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "app/page_fetch.h"
#include "app/page_title.h"
#include "objects/customer.h"
#include "objects/register_classes.h"
#include "settings/settings.h"
#include "settings/site.h"
#include "support/http_pages.h"
#include "support/temp_folder.h"
#include "transport/data_transfer.h"
#include "ui/recording_ui.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;
using testing::HttpPages;
using testing::ProgramFolderScope;

// --- the cutting rules ------------------------------------------------------------

TEST(RelayAddressFromTitle, TakesTheAddressAfterTheMarkerUpToTheSlash) {
  EXPECT_EQ(RelayAddressFromTitle("ip.fic:1.2.3.4/and more"), "1.2.3.4");
  EXPECT_EQ(RelayAddressFromTitle("ip.fic:1.2.3.4"), "1.2.3.4");
  EXPECT_EQ(RelayAddressFromTitle("ip.fic= 127.20.30.40 /x"), "127.20.30.40");
  // The marker is where it is, not necessarily at the start.
  EXPECT_EQ(RelayAddressFromTitle("Server ip.fic:5.6.7.8/"), "5.6.7.8");
}

TEST(RelayAddressFromTitle, RefusesAnythingButADottedIpv4) {
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:www.example.org"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:1.2.3.400"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:1.2.3"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:1.2.3.4.5"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:1..3.4"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic"));
  EXPECT_FALSE(RelayAddressFromTitle("1.2.3.4"));
  EXPECT_FALSE(RelayAddressFromTitle("ip.fic:1.2.3.4 ; rm -rf"));
}

TEST(OwnerTitle, CutsCompanyAndSiteAtTheMarkers) {
  TZelSObjectPartner partner;
  ApplyOwnerTitle(partner, "ACMEqrvneACMESITEqrvne trailing");
  EXPECT_EQ(partner.xsCompagnyName, "ACME");
  EXPECT_EQ(partner.xsStartWeb, "ACMESITE");

  TZelSObjectPartner only_name;
  ApplyOwnerTitle(only_name, "ACMEqrvneno second marker");
  EXPECT_EQ(only_name.xsCompagnyName, "ACME");
  EXPECT_EQ(only_name.xsStartWeb, "");

  TZelSObjectPartner untouched;
  untouched.xsCompagnyName = "kept";
  ApplyOwnerTitle(untouched, "no marker at all");
  EXPECT_EQ(untouched.xsCompagnyName, "kept");
}

TEST(OwnerTitle, NullOrTheMakersNameClearsBothFields) {
  for (auto [company, web] : {std::pair{"NULL", "site"}, std::pair{"acme", " null "},
                              std::pair{"  Farnwick ", "site"}, std::pair{"fArNwIcK", ""}}) {
    TZelSObjectPartner partner;
    partner.xsCompagnyName = company;
    partner.xsStartWeb = web;
    ClearUnknownPartner(partner);
    EXPECT_EQ(partner.xsCompagnyName, "") << company << "/" << web;
    EXPECT_EQ(partner.xsStartWeb, "") << company << "/" << web;
  }
  TZelSObjectPartner real;
  real.xsCompagnyName = "Farnwick Resale";
  real.xsStartWeb = "www.resale.example";
  ClearUnknownPartner(real);
  EXPECT_EQ(real.xsCompagnyName, "Farnwick Resale");
  EXPECT_EQ(real.xsStartWeb, "www.resale.example");
}

// --- titles and character sets -----------------------------------------------------

TEST(PageTitle, ConvertsFromTheDeclaredCharsetToWindows1252) {
  // "é" is E9 in Latin-1 and Windows-1252, C3 A9 in UTF-8; "€" is 80 in Windows-1252.
  EXPECT_EQ(PageTitle("text/html; charset=ISO-8859-1", "<title>caf\xE9</title>"), "café"_w);
  EXPECT_EQ(PageTitle("text/html; charset=utf-8", "<title>caf\xC3\xA9 \xE2\x82\xAC</title>"),
            "café €"_w);
  EXPECT_EQ(PageTitle("text/html", "<meta charset=\"utf-8\"><title>caf\xC3\xA9</title>"), "café"_w);
  EXPECT_EQ(PageTitle("text/html",
                      "<meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=windows-1252\"><title>\x80 caf\xE9</title>"),
            "€ café"_w);
  // KOI8-R "Привет": converted, then what Windows-1252 cannot hold is replaced,
  // never passed on as raw bytes.
  const std::string koi = PageTitle("text/html; charset=koi8-r", "<title>\xF0\xD2\xC9</title>");
  EXPECT_EQ(koi.size(), 3u);
  EXPECT_EQ(koi.find('\xF0'), std::string::npos);
  // Undeclared: valid UTF-8 is read as UTF-8, anything else as Windows-1252.
  EXPECT_EQ(PageTitle("", "<title>caf\xC3\xA9</title>"), "café"_w);
  EXPECT_EQ(PageTitle("", "<title>caf\xE9</title>"), "café"_w);
  // A header charset wins over the page's own meta.
  EXPECT_EQ(PageTitle("text/html; charset=iso-8859-1",
                      "<meta charset=\"utf-8\"><title>caf\xC3\xA9</title>"),
            "caf\xC3\xA9");
}

TEST(PageTitle, IsTheFirstHtmlTitleWithItsWhiteSpaceCollapsed) {
  EXPECT_EQ(PageTitle("",
                      "<html><head><title>\n  ip.fic:1.2.3.4 \t / x\n</title></head>"
                      "<body><title>second</title></body></html>"),
            "ip.fic:1.2.3.4 / x");
  EXPECT_EQ(PageTitle("", "<title>a &amp; b &lt;c&gt;</title>"), "a & b <c>");
  EXPECT_EQ(PageTitle("", "<html><body>no title here</body></html>"), "");
  EXPECT_EQ(PageTitle("", "<title>unterminated"), "");
  EXPECT_EQ(PageTitle("", ""), "");
  // A title inside SVG is not the document's title.
  EXPECT_EQ(PageTitle("", "<svg><title>svg</title></svg><title>doc</title>"), "doc");
}

TEST(PageTitle, AHostileDepthBeforeTheTitleIsRefusedNotParsed) {
  std::string page;
  for (int i = 0; i < 200000; ++i)
    page += "<div>";
  page += "<title>ip.fic:1.2.3.4</title>";
  EXPECT_EQ(PageTitle("", page), "");
}

// --- fetching real pages ------------------------------------------------------------

PageFetchLimits ShortLimits() {
  PageFetchLimits limits;
  limits.inactivity_ms = 400;
  limits.overall_ms = 3000;
  limits.poll_ms = 50;
  return limits;
}

// A loopback listener driven by a thread: it accepts one connection and then
// either stays silent or trickles one byte every 40 ms until told to stop.
class StubbornServer {
 public:
  explicit StubbornServer(bool trickle) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, trickle] {
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<title>";
      if (trickle) ::send(client, head.data(), head.size(), MSG_NOSIGNAL);
      while (!stop_) {
        if (trickle) ::send(client, "x", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
      }
      ::close(client);
    });
  }
  ~StubbornServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/ip.htm"; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(FetchPage, EndsAfterTheInactivityLimitWhenNothingArrives) {
  StubbornServer silent(false);
  int polls = 0;
  const FetchedPage page = FetchPage(silent.Url(), ShortLimits(), [&](std::uint32_t) { ++polls; });
  EXPECT_FALSE(page.complete);
  EXPECT_NE(page.failure.find("no activity"), std::string::npos) << page.failure;
  EXPECT_GT(polls, 1);
}

TEST(FetchPage, EndsAtTheOverallDeadlineWhileBytesKeepTrickling) {
  StubbornServer trickle(true);
  PageFetchLimits limits = ShortLimits();
  limits.overall_ms = 800;
  const FetchedPage page = FetchPage(trickle.Url(), limits, nullptr);
  EXPECT_FALSE(page.complete);
  EXPECT_NE(page.failure.find("not loaded within"), std::string::npos) << page.failure;
  EXPECT_FALSE(page.body.empty());  // bytes came, so inactivity never ended it
}

TEST(FetchPage, ARefusedConnectionFailsAtOnce) {
  const std::string url = "http://127.0.0.1:1/ip.htm";
  const FetchedPage page = FetchPage(url, ShortLimits(), nullptr);
  EXPECT_FALSE(page.complete);
  EXPECT_FALSE(page.failure.empty());
}

class DiscoveryPages : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClasses();
    manager_.SetName("ByMe");
    manager_.SetDataTransfer(&transfer_);
  }
  void TearDown() override { manager_.SetDataTransfer(nullptr); }

  // Points the site's two page URLs at our pages.
  void UseSite(const std::string& address_page, const std::string& owner_page) {
    std::ofstream site(scope_.folder() + "site.toml");
    site << "address_page_url = \"" << pages_.Url(address_page) << "\"\n"
         << "owner_page_url = \"" << pages_.Url(owner_page) << "\"\n";
    site.close();
    ReloadSiteValues();
  }

  void Discover() {
    TZelFoundServer found(ui_, ShortLimits());
    found.FindServer(manager_);
  }

  std::unique_ptr<TZelSObjectPartner> StoredPartner() {
    auto partner = std::make_unique<TZelSObjectPartner>(&manager_);
    partner->LoadFromPath(TZelObject::BaseFolder() + "DB\\customer.by.zub");
    return partner;
  }

  ProgramFolderScope scope_{"quorvane-discovery"};
  HttpPages pages_;
  RecordingUi ui_;
  TZelDataTransfer transfer_;
  TZelObject manager_;
};

TEST_F(DiscoveryPages, WritesTheRelayAddressAndThePartnerFromRealPages) {
  pages_.Write("ip.htm", "<html><head><title>ip.fic:127.0.0.9/x</title></head></html>");
  pages_.Write("getowner.htm", "<title>ACMEqrvneACMESITEqrvne</title>");
  UseSite("ip.htm", "getowner.htm");
  WriteSetting(kSettingProxyAddress, std::string("127.0.0.1"));
  Discover();
  EXPECT_EQ(ReadStringSetting(kSettingProxyAddress), "127.0.0.9");
  const auto partner = StoredPartner();
  EXPECT_FALSE(partner->IdIsNull());
  EXPECT_EQ(partner->xsCompagnyName, "ACME");
  EXPECT_EQ(partner->xsStartWeb, "ACMESITE");
  EXPECT_EQ(ui_.CallsNamed("ShowSearchWindow").size(), 1u);
  EXPECT_FALSE(ui_.CallsNamed("SetSearchProgress").empty());
  EXPECT_EQ(ui_.OpenWindowCount(), 0u);  // the search window goes with its owner
}

TEST_F(DiscoveryPages, TheOwnerPageIsAskedOnlyWhileThePartnerHasNoIdentifier) {
  pages_.Write("ip.htm", "<title>ip.fic 127.0.0.2</title>");
  pages_.Write("getowner.htm", "<title>FIRSTqrvneSITE1qrvne</title>");
  UseSite("ip.htm", "getowner.htm");
  Discover();
  const std::string id = StoredPartner()->GetId();
  pages_.Write("getowner.htm", "<title>SECONDqrvneSITE2qrvne</title>");
  Discover();
  const auto partner = StoredPartner();
  EXPECT_EQ(partner->GetId(), id);
  EXPECT_EQ(partner->xsCompagnyName, "FIRST");
}

TEST_F(DiscoveryPages, NullOwnerAnswerClearsAndAMakerPartnerIsClearedAtEveryStart) {
  pages_.Write("ip.htm", "<title>ip.fic:127.0.0.3</title>");
  pages_.Write("getowner.htm", "<title>ACMEqrvneNULLqrvne</title>");
  UseSite("ip.htm", "getowner.htm");
  Discover();
  EXPECT_EQ(StoredPartner()->xsCompagnyName, "");

  // A stored partner carrying the maker's name is cleared although it has an id.
  TZelSObjectPartner maker(&manager_);
  maker.EnsureId();
  maker.xsCompagnyName = "  farnwick ";
  maker.xsStartWeb = "www.farnwick.example";
  ASSERT_TRUE(maker.SaveToPath(TZelObject::BaseFolder() + "DB\\customer.by.zub"));
  Discover();
  const auto partner = StoredPartner();
  EXPECT_EQ(partner->GetId(), maker.GetId());
  EXPECT_EQ(partner->xsCompagnyName, "");
  EXPECT_EQ(partner->xsStartWeb, "");
}

TEST_F(DiscoveryPages, SettingTenKeepsItsValueWhenThePageHasNoAddress) {
  WriteSetting(kSettingProxyAddress, std::string("127.0.0.1"));
  for (const char* title : {"ip.fic:not-an-address", "no marker", "ip.fic:1.2.3.4.5"}) {
    pages_.Write("ip.htm", std::string("<title>") + title + "</title>");
    UseSite("ip.htm", "missing.htm");
    Discover();
    EXPECT_EQ(ReadStringSetting(kSettingProxyAddress), "127.0.0.1") << title;
  }
  // A missing page (404) changes nothing either, and the partner is still stored.
  UseSite("missing.htm", "missing.htm");
  Discover();
  EXPECT_EQ(ReadStringSetting(kSettingProxyAddress), "127.0.0.1");
  EXPECT_FALSE(StoredPartner()->IdIsNull());
}

TEST_F(DiscoveryPages, AnErrorPageTitleIsReadAsABrowserShowsIt) {
  TZelFoundServer found(ui_, ShortLimits());  // http.server's 404 page
  EXPECT_EQ(found.FetchPageTitle(pages_.Url("missing.htm"), "Error"), "Error response");
}

TEST_F(DiscoveryPages, APageBiggerThanTheCapIsCutAndItsTitleStillRead) {
  std::string page = "<title>ip.fic:127.0.0.7</title><body>";
  page.append(3 * 1024 * 1024, 'x');
  pages_.Write("big.htm", page);
  PageFetchLimits limits = ShortLimits();
  const FetchedPage fetched = FetchPage(pages_.Url("big.htm"), limits, nullptr);
  EXPECT_TRUE(fetched.complete) << fetched.failure;
  EXPECT_EQ(fetched.body.size(), limits.max_bytes);
  TZelFoundServer found(ui_, limits);
  EXPECT_EQ(found.FetchPageTitle(pages_.Url("big.htm"), "ip.fic"), "ip.fic:127.0.0.7");
}

}  // namespace
}  // namespace quorvane
