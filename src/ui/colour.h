// Colours as the windows and gauges receive them: either an RGB value or one of
// the system's named colours, resolved by the backend that draws. Plain values,
// safe from any thread.
#pragma once

#include <cstdint>

namespace quorvane {

// 0x00BBGGRR for an RGB colour; 0x800000nn for system colour number nn, the way
// the windows' callers have always named "button face" and its edges.
using Colour = std::uint32_t;

inline constexpr Colour kSystemColourFlag = 0x80000000u;
inline constexpr Colour kColourButtonFace = kSystemColourFlag | 15;
inline constexpr Colour kColourButtonShadow = kSystemColourFlag | 16;
inline constexpr Colour kColourButtonHighlight = kSystemColourFlag | 20;
inline constexpr Colour kColourBlack = 0x000000;
inline constexpr Colour kColourWhite = 0xFFFFFF;

constexpr Colour RgbColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<Colour>(red) | static_cast<Colour>(green) << 8 |
         static_cast<Colour>(blue) << 16;
}
constexpr bool IsSystemColour(Colour colour) {
  return (colour & kSystemColourFlag) != 0;
}
constexpr std::uint8_t RedOf(Colour colour) {
  return colour & 0xFF;
}
constexpr std::uint8_t GreenOf(Colour colour) {
  return (colour >> 8) & 0xFF;
}
constexpr std::uint8_t BlueOf(Colour colour) {
  return (colour >> 16) & 0xFF;
}

}  // namespace quorvane
