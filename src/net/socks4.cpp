#include "net/socks4.h"

#include <stdexcept>

#include "util/codec.h"

namespace quorvane {
namespace {

// The run-time library's conversion message for a text that is not an integer.
[[noreturn]] void NotAnInteger(std::string_view part) {
  throw std::invalid_argument(
      Utf8ToCp1252("'" + std::string(part) + "' n'est pas une valeur entière correcte"));
}

std::uint8_t AddressPart(std::string_view part) {
  if (part.empty() || part.size() > 10) NotAnInteger(part);
  std::int64_t value = 0;
  for (const char c : part) {
    if (c < '0' || c > '9') NotAnInteger(part);
    value = value * 10 + (c - '0');
  }
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace

std::vector<std::uint8_t> BuildSocks4Connect(std::string_view address, int port,
                                             std::string_view user_id) {
  if (port < 0 || port > 0xFFFF) throw std::out_of_range("SOCKS 4 port out of range");
  if (user_id.size() > kSocks4MaxUserId)
    throw std::out_of_range("SOCKS 4 user identifier too long");
  std::vector<std::uint8_t> request;
  request.reserve(9 + user_id.size());
  request.push_back(4);
  request.push_back(1);
  request.push_back(static_cast<std::uint8_t>((port >> 8) & 0xFF));
  request.push_back(static_cast<std::uint8_t>(port & 0xFF));
  std::string_view rest = address;
  for (int i = 0; i < 4; ++i) {
    std::string_view part = rest;
    if (i < 3) {
      const auto dot = rest.find('.');
      if (dot == std::string_view::npos) NotAnInteger(rest);
      part = rest.substr(0, dot);
      rest.remove_prefix(dot + 1);
    }
    request.push_back(AddressPart(part));
  }
  request.insert(request.end(), user_id.begin(), user_id.end());
  request.push_back(0);
  return request;
}

Socks4Reply ParseSocks4Reply(const std::array<std::uint8_t, kSocks4ReplySize>& bytes) {
  Socks4Reply reply;
  reply.well_formed = bytes[0] == 0 || bytes[0] == 4;
  reply.code = bytes[1];
  return reply;
}

std::string Socks4ReplyText(const Socks4Reply& reply) {
  if (!reply.well_formed) return "malformed SOCKS 4 reply";
  switch (reply.code) {
    case 90:
      return "request granted";
    case 91:
      return "request rejected or failed (91)";
    case 92:
      return "rejected: no identd on the client (92)";
    case 93:
      return "rejected: identd user mismatch (93)";
    default:
      return "unknown reply code " + std::to_string(reply.code);
  }
}

}  // namespace quorvane
