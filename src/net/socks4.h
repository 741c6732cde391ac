// SOCKS 4 CONNECT as bytes, with no I/O:
//   request  = 04 01 | port (2, big-endian) | IPv4 (4, first number first) | user id | 00
//   reply    = 00 | code | port (2) | IPv4 (4); code 90 = granted, 91-93 = refused
// The socket sends the request after its connect and reads the reply whole
// (exactly 8 bytes, bounded in time) before any frame byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

inline constexpr std::size_t kSocks4ReplySize = 8;
inline constexpr std::uint8_t kSocks4Granted = 90;
inline constexpr int kSocks4ReplyTimeoutMs = 10'000;
// User identifiers are sent without a length; longer ones are refused.
inline constexpr std::size_t kSocks4MaxUserId = 254;

// The request bytes. The address is a dotted text cut at "." from the left into four
// decimal parts, each stored as its low 8 bits. Raises std::invalid_argument for a
// part that is not a decimal number (or a missing part) and std::out_of_range for a
// port outside 0..65535 or a user identifier longer than kSocks4MaxUserId.
std::vector<std::uint8_t> BuildSocks4Connect(std::string_view address, int port,
                                             std::string_view user_id);

struct Socks4Reply {
  bool well_formed = false;  // version byte 0 (some relays send 4: accepted too)
  std::uint8_t code = 0;
  bool Granted() const { return well_formed && code == kSocks4Granted; }
};

Socks4Reply ParseSocks4Reply(const std::array<std::uint8_t, kSocks4ReplySize>& bytes);

// The relay's reason for a code, for messages and the log.
std::string Socks4ReplyText(const Socks4Reply& reply);

}  // namespace quorvane
