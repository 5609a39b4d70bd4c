// mprintf's compile-time check: formats with the argument types of a call, and the verdict the
// formatter's grammar gives them. The same table is asserted while compiling and reported by the test.
#include <gtest/gtest.h>

#include <cstdint>

#include "console/mprintf.h"

namespace vx {
namespace {

using M = FormatMismatch;

struct CheckCase {
  const char* format;
  FormatMismatch (*check)(const char*);  // format_mismatch for the call's argument types
  FormatMismatch verdict;
};

constexpr CheckCase kCases[] = {
    // Calls that match.
    {"no conversion", format_mismatch<>, M::Matches},
    {"100%% and %%d", format_mismatch<>, M::Matches},
    {"%d %u %x %X %c", format_mismatch<int, unsigned, std::int32_t, std::uint32_t, char>, M::Matches},
    {"%06X %-5d %ld %2c", format_mismatch<std::uint8_t, short, int, int>, M::Matches},
    {"%s|%s", format_mismatch<char*, const char*>, M::Matches},
    {"%5.2f %.0f", format_mismatch<double, float>, M::Matches},
    {"%y%5q% ", format_mismatch<>, M::Matches},  // swallowed conversions take nothing
    {"%123d", format_mismatch<>, M::Matches},    // width 12, '3' swallowed, then a plain 'd'
    {"%.dx", format_mismatch<int>, M::Matches},  // the precision is one character ('d'): x converts
    {"%1.2lx", format_mismatch<unsigned>, M::Matches},
    // In number.
    {"%d/%d", format_mismatch<int>, M::FewerArguments},
    {"%d", format_mismatch<>, M::FewerArguments},
    {"%d", format_mismatch<int, int>, M::MoreArguments},
    {"plain", format_mismatch<const char*>, M::MoreArguments},
    {"%%d", format_mismatch<int>, M::MoreArguments},
    {"%3y", format_mismatch<int>, M::MoreArguments},
    // In kind.
    {"%d", format_mismatch<const char*>, M::WrongKind},
    {"%s", format_mismatch<int>, M::WrongKind},
    {"%x", format_mismatch<double>, M::WrongKind},
    {"%f", format_mismatch<int>, M::WrongKind},
    {"%d", format_mismatch<std::int64_t>, M::WrongKind},
    {"%ld", format_mismatch<long long>, M::WrongKind},
    {"%c", format_mismatch<bool>, M::WrongKind},
    {"%f", format_mismatch<long double>, M::WrongKind},
    {"%s", format_mismatch<const unsigned char*>, M::WrongKind},
    {"%s %d", format_mismatch<const char*, const char*>, M::WrongKind},
    // Formats that end inside a conversion.
    {"100%", format_mismatch<>, M::UnfinishedConversion},
    {"%-05", format_mismatch<int>, M::UnfinishedConversion},
    {"%5.", format_mismatch<double>, M::UnfinishedConversion},
    {"%5.2", format_mismatch<double>, M::UnfinishedConversion},
    {"%.d", format_mismatch<int>, M::UnfinishedConversion},  // 'd' is the precision here
    {"%l", format_mismatch<int>, M::UnfinishedConversion},
};

constexpr bool every_case_as_expected() {
  for (const CheckCase& c : kCases)
    if (c.check(c.format) != c.verdict) return false;
  return true;
}
static_assert(every_case_as_expected());

TEST(MprintfCheck, VerdictsFollowTheGrammar) {
  for (const CheckCase& c : kCases)
    EXPECT_EQ(static_cast<int>(c.check(c.format)), static_cast<int>(c.verdict)) << '"' << c.format << '"';
}

}  // namespace
}  // namespace vx
