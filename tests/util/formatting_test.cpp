#include "util/formatting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

std::int64_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>((year - 1980) << 9 | month << 5 | day);
  const std::uint32_t time = static_cast<std::uint32_t>(hour << 11 | minute << 5 | second / 2);
  return static_cast<std::int64_t>(date << 16 | time);
}

TEST(FormatInteger, TypeNamesAreComparedWithoutCase) {
  EXPECT_EQ(FormatIntegerValue("INTEGER", 42), "42");
  EXPECT_EQ(FormatIntegerValue("Integer", -7), "-7");
  EXPECT_EQ(FormatIntegerValue("txfilesize", 2048), "       2 Ko");
  EXPECT_EQ(FormatIntegerValue("INTEGER", INT64_MIN), "-9223372036854775808");
}

TEST(FormatInteger, UnknownTypesGiveEmptyText) {
  EXPECT_EQ(FormatIntegerValue("STRING", 1), "");
  EXPECT_EQ(FormatIntegerValue("", 1), "");
  EXPECT_EQ(FormatIntegerValue("DOUBLE", 1), "");  // a real type, not an integer one
  EXPECT_EQ(FormatIntegerValue("INTEGERX", 1), "");
}

TEST(FormatInteger, DateCountsDaysFromTheEndOf1899) {
  EXPECT_EQ(FormatIntegerValue("TXDATE", 0), "ns");
  EXPECT_EQ(FormatIntegerValue("TXDATE", -3), "ns");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 1), "31/12/99");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 2), "01/01/00");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 60), "28/02/00");  // 1900 is not a leap year
  EXPECT_EQ(FormatIntegerValue("TXDATE", 61), "01/03/00");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 36526), "01/01/00");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 45000), "15/03/23");
  EXPECT_EQ(FormatIntegerValue("TXDATE", 2958465), "31/12/99");  // 31/12/9999
}

TEST(FormatInteger, DateBeyondTheCalendarShowsAsNotSet) {
  EXPECT_EQ(FormatIntegerValue("TXDATE", 2958466), "ns");
  EXPECT_EQ(FormatIntegerValue("TXDATE", INT64_MAX), "ns");
}

TEST(FormatInteger, FileSizeInKilobytes) {
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 500), "1 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 1), "1 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 1023), "1 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 0), "       0 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 1024), "       1 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 2047), "       1 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 2048), "       2 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 999 * 1024), "     999 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 1000 * 1024), "   1 000 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 1234567890), "1 205 632 Ko");  // wider than 8
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", 123456789LL * 1024), "123 456 789 Ko");
}

TEST(FormatInteger, NegativeFileSizesStayReadable) {
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", -1), "       0 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", -5000), "      -4 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", -1024LL * 1234), "  -1 234 Ko");
  EXPECT_EQ(FormatIntegerValue("TXFILESIZE", INT64_MIN), "-9 007 199 254 740 992 Ko");
}

TEST(FormatInteger, FileDateUnpacksDosDateAndTime) {
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2024, 3, 15, 13, 45, 30)),
            "15/03/2024 13:45:30");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(1980, 1, 1, 0, 0, 0)),
            "01/01/1980 00:00:00");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2024, 2, 29, 23, 59, 58)),
            "29/02/2024 23:59:58");
}

TEST(FormatInteger, FileDateFromANegativeThirtyTwoBitValue) {
  // From 2044 on the packed value has its top bit set; held in a signed 32-bit
  // property it arrives negative.
  const std::int64_t packed = DosDateTime(2050, 6, 1, 8, 0, 0);
  const auto as_int32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(packed));
  ASSERT_LT(as_int32, 0);
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", as_int32), "01/06/2050 08:00:00");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", packed), "01/06/2050 08:00:00");
}

TEST(FormatInteger, FileDateThatIsNoDateShowsAsNotSet) {
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", 0), "ns");  // month 0, day 0
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 2, 29, 0, 0, 0)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 13, 1, 0, 0, 0)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 4, 31, 0, 0, 0)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 4, 1, 24, 0, 0)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 4, 1, 0, 60, 0)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", DosDateTime(2023, 4, 1, 0, 0, 60)), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", 0x100000000LL), "ns");
  EXPECT_EQ(FormatIntegerValue("TXFILEDATE", INT64_MIN), "ns");
}

TEST(FormatReal, TwoDecimalsRightAlignedInEight) {
  EXPECT_EQ(FormatRealValue("DOUBLE", 0), "    0.00");
  EXPECT_EQ(FormatRealValue("double", 3.14159), "    3.14");
  EXPECT_EQ(FormatRealValue("DOUBLE", -2.5), "   -2.50");
  EXPECT_EQ(FormatRealValue("DOUBLE", 99.999), "  100.00");
  EXPECT_EQ(FormatRealValue("DOUBLE", 9.995), "   10.00");
  EXPECT_EQ(FormatRealValue("DOUBLE", 123456789.5), "123456789.50");
  EXPECT_EQ(FormatRealValue("DOUBLE", 1e20), "100000000000000000000.00");
  EXPECT_EQ(FormatRealValue("DOUBLE", 1e-300), "    0.00");
}

TEST(FormatReal, HalvesRoundAwayFromZeroOnTheWrittenValue) {
  // 2.675 is stored as 2.67499999...; it still shows as the 2.68 that was typed.
  EXPECT_EQ(FormatRealValue("DOUBLE", 2.675), "    2.68");
  EXPECT_EQ(FormatRealValue("DOUBLE", 0.125), "    0.13");
  EXPECT_EQ(FormatRealValue("DOUBLE", -0.125), "   -0.13");
  EXPECT_EQ(FormatRealValue("DOUBLE", 1.005), "    1.01");
  EXPECT_EQ(FormatRealValue("DOUBLE", 0.124999), "    0.12");
  // A negative value that rounds to zero shows no sign.
  EXPECT_EQ(FormatRealValue("DOUBLE", -0.001), "    0.00");
  EXPECT_EQ(FormatRealValue("DOUBLE", -0.0), "    0.00");
}

TEST(FormatReal, NonFiniteValuesNeverCrash) {
  EXPECT_EQ(FormatRealValue("DOUBLE", std::nan("")), "     NAN");
  EXPECT_EQ(FormatRealValue("DOUBLE", std::numeric_limits<double>::infinity()), "     INF");
  EXPECT_EQ(FormatRealValue("TXMONEY", -std::numeric_limits<double>::infinity()), "    -INF F");
  EXPECT_EQ(FormatRealValue("DOUBLE", std::numeric_limits<double>::max()).size(), 312u);
}

TEST(FormatReal, MoneyAddsTheCurrency) {
  EXPECT_EQ(FormatRealValue("TXMONEY", 12.5), "   12.50 F");
  EXPECT_EQ(FormatRealValue("TxMoney", 1234567.891), "1234567.89 F");
}

TEST(FormatReal, DateTime) {
  EXPECT_EQ(FormatRealValue("TXDATETIME", 0), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", -1.5), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 1), "31/12/99 00:00:00");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 36526.5), "01/01/00 12:00:00");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 45000.75), "15/03/23 18:00:00");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 45000 + (13 * 3600 + 45 * 60 + 30) / 86400.0),
            "15/03/23 13:45:30");
}

TEST(FormatReal, DateTimeEdges) {
  // A fraction a hair below a whole day is the next midnight, not "24:00:00".
  EXPECT_EQ(FormatRealValue("TXDATETIME", 1.9999999999), "01/01/00 00:00:00");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 2958465.9999999999), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 2958466), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 1e300), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", std::nan("")), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", std::numeric_limits<double>::infinity()), "ns");
  EXPECT_EQ(FormatRealValue("TXDATETIME", 1e-12), "30/12/99 00:00:00");
}

TEST(FormatReal, UnknownTypesGiveEmptyText) {
  EXPECT_EQ(FormatRealValue("INTEGER", 1.0), "");
  EXPECT_EQ(FormatRealValue("TXDATE", 1.0), "");
  EXPECT_EQ(FormatRealValue("", 1.0), "");
}

TEST(EnumNames, FrenchNamesByOrdinal) {
  EXPECT_EQ(EnumDisplayName("TxTypeOfProxy", 1), "Socks4 proxy serveur");
  EXPECT_EQ(EnumDisplayName("Boolean", 0), "Non");
  EXPECT_EQ(EnumDisplayName("Boolean", 1), "Oui");
  EXPECT_EQ(EnumDisplayName("TxTypeOfSex", 0), "Indéfini"_w);
  EXPECT_EQ(EnumDisplayName("TxTypeOfFamillyStatus", 2), "Marié(e)"_w);
  EXPECT_EQ(EnumDisplayName("TxTypeOfTitleName", 8), "Dr.");
  EXPECT_EQ(EnumDisplayName("TxSocksAuthentication", 0), "Pas d'authentification");
  EXPECT_EQ(EnumDisplayName("TTypeWaitProcessing", 3),
            "Impossible de trouver une connexion directe !");
  EXPECT_EQ(EnumDisplayName("TxTypeOfFileKind", 5), "Logiciel");
  EXPECT_EQ(EnumDisplayName("TxTypeOfAnnonce", 6), "Partage");
  EXPECT_EQ(EnumDisplayName("txtypeofproxy", 2), "Socks5 proxy serveur");
}

TEST(EnumNames, AccentedNamesAreWindows1252) {
  const std::string name = EnumDisplayName("TxTypeOfFamillyStatus", 1);
  EXPECT_EQ(name, "C\xE9libataire");
  EXPECT_EQ(Cp1252ToUtf8(name), "Célibataire");
}

TEST(EnumNames, OutOfRangeAndUnknownGiveEmptyText) {
  EXPECT_EQ(EnumDisplayName("TxTypeOfProxy", 3), "");
  EXPECT_EQ(EnumDisplayName("TxTypeOfProxy", -1), "");
  EXPECT_EQ(EnumDisplayName("Boolean", 2), "");
  EXPECT_EQ(EnumDisplayName("TxTypeOfNothing", 0), "");
  EXPECT_EQ(EnumDisplayName("", 0), "");
}

}  // namespace
}  // namespace quorvane
