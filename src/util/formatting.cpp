#include "util/formatting.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "util/codec.h"
#include "util/text.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

// Day 0 of the date-time scale is 30/12/1899; 2958465 is 31/12/9999.
constexpr std::int64_t kLastDay = 2958465;
constexpr std::int64_t kUnixEpochDay = 25569;  // 01/01/1970
constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::string_view kNotSet = "ns";

struct CivilDate {
  int year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day count since 01/01/1970 (H. Hinnant's algorithm).
CivilDate FromUnixDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const auto year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

unsigned DaysInMonth(int year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void AppendTwoDigits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

std::string DatePart(const CivilDate& date, bool four_digit_year) {
  std::string out;
  AppendTwoDigits(out, date.day);
  out += '/';
  AppendTwoDigits(out, date.month);
  out += '/';
  const auto year = static_cast<unsigned>(date.year);
  if (four_digit_year) AppendTwoDigits(out, year / 100);
  AppendTwoDigits(out, year % 100);
  return out;
}

std::string TimePart(unsigned hour, unsigned minute, unsigned second) {
  std::string out;
  AppendTwoDigits(out, hour);
  out += ':';
  AppendTwoDigits(out, minute);
  out += ':';
  AppendTwoDigits(out, second);
  return out;
}

std::string PadLeft(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

template <typename Integer>
std::string Decimal(Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// "%.0n": the integer with its thousands separated by a blank.
std::string GroupedThousands(std::int64_t value) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = Decimal(magnitude);
  std::string out = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return out;
}

std::string FormatFileSize(std::int64_t value) {
  const std::int64_t kilobytes = value / 1024;
  if (kilobytes < 1 && value > 0) return "1 Ko";
  return PadLeft(GroupedThousands(kilobytes), 8) + " Ko";
}

std::string FormatDate(std::int64_t days) {
  if (days <= 0 || days > kLastDay) return std::string(kNotSet);
  return DatePart(FromUnixDays(days - kUnixEpochDay), false);
}

// Properties hold the packed value in a signed 32-bit integer, so a date from
// 2044 on arrives negative; its low 32 bits are the packed value.
std::string FormatFileDate(std::int64_t value) {
  if (value < INT32_MIN || value > UINT32_MAX) return std::string(kNotSet);
  const auto packed = static_cast<std::uint32_t>(value);
  const unsigned date = packed >> 16;
  const unsigned time = packed & 0xFFFF;
  const CivilDate civil{static_cast<int>(1980 + (date >> 9)), (date >> 5) & 0x0F, date & 0x1F};
  const unsigned hour = time >> 11;
  const unsigned minute = (time >> 5) & 0x3F;
  const unsigned second = (time & 0x1F) * 2;
  if (civil.month < 1 || civil.month > 12 || civil.day < 1 ||
      civil.day > DaysInMonth(civil.year, civil.month) || hour > 23 || minute > 59 || second > 59)
    return std::string(kNotSet);
  return DatePart(civil, true) + ' ' + TimePart(hour, minute, second);
}

std::string FormatDateTime(double value) {
  if (!(value > 0) || value >= static_cast<double>(kLastDay + 1)) return std::string(kNotSet);
  auto days = static_cast<std::int64_t>(value);
  auto ms =
      static_cast<std::int64_t>(std::llround((value - static_cast<double>(days)) * kMsPerDay));
  // A fraction a hair below 1 rounds to a whole day: it belongs to the next date.
  if (ms >= kMsPerDay) {
    ++days;
    ms -= kMsPerDay;
  }
  if (days > kLastDay) return std::string(kNotSet);
  const auto seconds = static_cast<unsigned>(ms / 1000);
  return DatePart(FromUnixDays(days - kUnixEpochDay), false) + ' ' +
         TimePart(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// "%.2f" with the rounding described in the header.
std::string FixedTwoDecimals(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // The shortest fixed form of the largest double has 309 digits, of the smallest 327.
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  std::size_t point = text.find('.');
  if (point == std::string::npos) {
    point = text.size();
    text += '.';
  }
  text.append(3, '0');
  const bool round_up = text[point + 3] >= '5';
  text.resize(point + 3);
  if (round_up) {
    std::size_t i = text.size();
    for (;;) {
      if (i == 0) {
        text.insert(0, 1, '1');
        break;
      }
      --i;
      if (text[i] == '.') continue;
      if (text[i] != '9') {
        ++text[i];
        break;
      }
      text[i] = '0';
    }
  }
  const bool zero = text.find_first_not_of("0.") == std::string::npos;
  return value < 0 && !zero ? "-" + text : text;
}

struct EnumNames {
  std::string type_name;
  std::vector<std::string> names;
};

const std::vector<EnumNames>& EnumTable() {
  static const std::vector<EnumNames> table = {
      {"Boolean", {"Non", "Oui"}},
      {"TxTypeOfSex", {"Indéfini"_w, "Homme", "Femme"}},
      {"TxTypeOfAnnonce",
       {"Vente", "Achat", "Echange", "Donation", "Recherche", "Location", "Partage"}},
      {"TxTypeOfFamillyStatus", {"Non spécifié"_w, "Célibataire"_w, "Marié(e)"_w, "Union libre"}},
      {"TxTypeOfTitleName", {"M.", "Me.", "Mlle.", "MM.", "Mme.", "P.", "Pr.", "Sr.", "Dr."}},
      {"TxTypeOfProxy", {"Pas de proxy", "Socks4 proxy serveur", "Socks5 proxy serveur"}},
      {"TxSocksAuthentication", {"Pas d'authentification", "Authentification"}},
      {"TTypeWaitProcessing",
       {"En attente", "En cours", "Fichier introuvable !",
        "Impossible de trouver une connexion directe !"}},
      {"TxTypeOfFileKind",
       {"Audio", "Video", "Image", "Document", "Archive", "Logiciel", "Autres"}},
  };
  return table;
}

}  // namespace

std::string FormatIntegerValue(std::string_view type_name, std::int64_t value) {
  const std::string type = UpperCase(type_name);
  if (type == "INTEGER") return Decimal(value);
  if (type == "TXDATE") return FormatDate(value);
  if (type == "TXFILESIZE") return FormatFileSize(value);
  if (type == "TXFILEDATE") return FormatFileDate(value);
  return {};
}

std::string FormatRealValue(std::string_view type_name, double value) {
  const std::string type = UpperCase(type_name);
  if (type == "DOUBLE") return PadLeft(FixedTwoDecimals(value), 8);
  if (type == "TXMONEY") return PadLeft(FixedTwoDecimals(value), 8) + " F";
  if (type == "TXDATETIME") return FormatDateTime(value);
  return {};
}

std::string EnumDisplayName(std::string_view enum_type_name, int ordinal) {
  for (const auto& entry : EnumTable()) {
    if (!SameText(entry.type_name, enum_type_name)) continue;
    if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= entry.names.size()) return {};
    return entry.names[static_cast<std::size_t>(ordinal)];
  }
  return {};
}

}  // namespace quorvane
