// Unit values: the pools' declarations, the list's CSV file, the layout of {unit.bin} and the unit
// placeholders.
#include <gtest/gtest.h>

#include "frontends/station/model/placeholders.h"
#include "frontends/station/model/units.h"

namespace vx::station {
namespace {

TEST(StationUnits, CountersAndRanges) {
  const struct {
    const char* definition;
    bool mac;
    bool ok;
    std::uint64_t first, last;
  } cases[] = {
      {"1000", false, true, 1000, (std::uint64_t{1} << 63) - 1},
      {"1000-9999", false, true, 1000, 9999},
      {"0x10000-0x1FFFF", false, true, 0x10000, 0x1FFFF},
      {"5-5", false, true, 5, 5},
      {"9-1", false, false, 0, 0},
      {"", false, false, 0, 0},
      {"12a", false, false, 0, 0},
      {"1-", false, false, 0, 0},
      {"0x", false, false, 0, 0},
      {"9223372036854775808", false, false, 0, 0},  // 2^63: past what the database holds
      {"02:00:5E:10:00:00-02:00:5E:10:FF:FF", true, true, 0x02005E100000, 0x02005E10FFFF},
      {"02:00:5e:10:00:05-02:00:5e:10:00:05", true, true, 0x02005E100005, 0x02005E100005},
      {"02:00:5E:10:00:01-02:00:5E:10:00:00", true, false, 0, 0},
      {"02:00:5E:10:00-02:00:5E:10:00:10", true, false, 0, 0},
      {"02:00:5E:10:00:0G-02:00:5E:10:00:10", true, false, 0, 0},
      {"02:00:5E:10:00:00", true, false, 0, 0},
  };
  for (const auto& c : cases) {
    PoolSpec pool;
    std::string why;
    const bool ok = c.mac ? parse_address_range(c.definition, pool, why) : parse_counter(c.definition, pool, why);
    EXPECT_EQ(ok, c.ok) << c.definition << ": " << why;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(pool.first, c.first) << c.definition;
    EXPECT_EQ(pool.last, c.last) << c.definition;
  }
}

TEST(StationUnits, ListsAreCheckedWhole) {
  const struct {
    const char* csv;
    const char* column;
    std::vector<std::string> values;
    const char* why;
  } cases[] = {
      {"key\nA1\nB2\n", "key", {"A1", "B2"}, ""},
      {"id,key\r\n1,A1\r\n2,\"B,2\"\r\n", "key", {"A1", "B,2"}, ""},
      {"key,x\nA1,1\n\nB2,2", "", {"A1", "B2"}, ""},  // a blank line is no row; no column: the first
      {"key\n\"say \"\"hi\"\"\"\n", "key", {"say \"hi\""}, ""},
      {"key\nA1\nB2\nA1\n", "key", {}, "keys.csv rows 2 and 4 hold the same key A1: each value is given once"},
      {"id,key\n1,A1\n2,\n", "key", {}, "keys.csv row 3: the key is empty"},
      {"id,key\n1,A1\n2\n", "key", {}, "keys.csv row 3: the key is empty"},
      {"id,key\n", "key", {}, "keys.csv holds no values (its first row names the columns)"},
      {"id,value\n1,A\n", "key", {}, "keys.csv has no column named key"},
      {"key\n\"A1\nB2\n", "key", {}, "keys.csv: a quote opened on line 2 is never closed"},
  };
  for (const auto& c : cases) {
    PoolSpec pool;
    std::string why;
    const bool ok = parse_list(c.csv, "keys.csv", c.column, pool, why);
    EXPECT_EQ(why, c.why) << c.csv;
    EXPECT_EQ(ok, std::string(c.why).empty()) << c.csv;
    if (ok) {
      EXPECT_EQ(pool.values, c.values) << c.csv;
    }
  }
}

std::vector<PoolSpec> declared(const char* serial, const char* keys_csv) {
  std::vector<PoolSpec> pools(3);
  std::string why;
  EXPECT_TRUE(parse_counter(serial, pools[0], why)) << why;
  EXPECT_TRUE(parse_address_range("02:00:5E:10:00:00-02:00:5E:10:FF:FF", pools[1], why)) << why;
  EXPECT_TRUE(parse_list(keys_csv, "keys.csv", "key", pools[2], why)) << why;
  return pools;
}

TEST(StationUnits, EveryValueIsCheckedAgainstItsField) {
  const char* k16 = "key\n00112233445566778899AABBCCDDEEFF\n";
  const struct {
    const char* serial;
    const char* csv;
    const char* layout;
    const char* problem;
  } cases[] = {
      {"1000-9999", k16, "serial u32be, mac 6 bytes, key 16 bytes", ""},
      {"1-255", k16, "serial u8", ""},
      {"1-256", k16, "serial u8", "the serial pool's last value 256 does not fit the layout's 1 bytes"},
      {"1", k16, "serial u16le", ""},  // no last value: the field bounds it
      {"70000", k16, "serial u16le", "the serial pool's first value 70000 does not fit the layout's 2 bytes"},
      {"1-9", k16, "mac 5 bytes", "the mac pool's first value 02:00:5E:10:00:00 does not fit the layout's 5 bytes"},
      {"1-9", k16, "key 8 bytes",
       "keys.csv row 2: the key 00112233445566778899AABBCCDDEEFF doesn't fit its field (8 bytes in hexadecimal)"},
      {"1-9", "key\nAB\nXY\n", "key 1 bytes",
       "keys.csv row 3: the key XY doesn't fit its field (1 bytes in hexadecimal)"},
      {"1-9", "key\nABC\nABCDE\n", "key text 4",
       "keys.csv row 3: the key ABCDE doesn't fit its field (at most 4 characters)"},
      {"1-9", k16, "key u32be", "the layout's key is a number, but the key pool is a list"},
      {"1-9", k16, "lot u8", "the layout names lot, which is no pool declared (--lot)"},
  };
  for (const auto& c : cases) {
    std::vector<PoolSpec> pools = declared(c.serial, c.csv);
    Layout layout;
    std::string why;
    ASSERT_TRUE(parse_layout(c.layout, layout, why)) << c.layout << ": " << why;
    fit_pools_to_layout(pools, layout);
    EXPECT_EQ(layout_problem(layout, pools), c.problem) << c.serial << " / " << c.layout;
  }
}

TEST(StationUnits, LayoutsRefused) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"serial u24be",
       "--layout: 'serial u24be' is no field (POOL u8|u16be|u16le|u32be|u32le|u64be|u64le, "
       "POOL N bytes or POOL text N)"},
      {"serial 0 bytes",
       "--layout: 'serial 0 bytes' is no field (POOL u8|u16be|u16le|u32be|u32le|u64be|u64le, "
       "POOL N bytes or POOL text N)"},
      {"serial u8,",
       "--layout: '' is no field (POOL u8|u16be|u16le|u32be|u32le|u64be|u64le, "
       "POOL N bytes or POOL text N)"},
      {"0FG000: serial u8", "--layout: '0FG000' is not an address in hexadecimal"},
  };
  for (const auto& c : cases) {
    Layout layout;
    std::string why;
    EXPECT_FALSE(parse_layout(c.text, layout, why)) << c.text;
    EXPECT_EQ(why, c.why);
  }
}

TEST(StationUnits, TheFileIsLaidOutFromTheValues) {
  const std::vector<PoolSpec> pools = declared("1-99999", "key\n00112233445566778899AABBCCDDEEFF\n");
  const UnitValues values{
      {"serial", 0x01020304, ""}, {"mac", 0x02005E10ABCD, ""}, {"key", 0, "00112233445566778899AABBCCDDEEFF"}};
  const struct {
    const char* layout;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"0FF000: serial u32be, mac 6 bytes, key 16 bytes",
       {0x01, 0x02, 0x03, 0x04, 0x02, 0x00, 0x5E, 0x10, 0xAB, 0xCD, 0x00, 0x11, 0x22,
        0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
      {"serial u32le", {0x04, 0x03, 0x02, 0x01}},
      {"serial u16be", {0x03, 0x04}},
      {"serial u64be", {0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04}},
      {"serial 3 bytes", {0x02, 0x03, 0x04}},
      {"serial text 10", {'1', '6', '9', '0', '9', '0', '6', '0', 0, 0}},
      {"mac u64le", {0xCD, 0xAB, 0x10, 0x5E, 0x00, 0x02, 0, 0}},
  };
  for (const auto& c : cases) {
    Layout layout;
    std::string why;
    ASSERT_TRUE(parse_layout(c.layout, layout, why)) << why;
    EXPECT_EQ(unit_bytes(layout, values), c.bytes) << c.layout;
  }
}

TEST(StationUnits, PlaceholdersTakeTheBoardsValues) {
  const std::vector<PoolSpec> pools = declared("1-99999", "key\nK-77\n");
  Layout layout;
  std::string why;
  ASSERT_TRUE(parse_layout("0FF000: serial u32be", layout, why));
  const UnitContext unit{
      &pools, &layout, {{"serial", 1000, ""}, {"mac", 0x02005E10000A, ""}, {"key", 0, "K-77"}}, "run/7.bin"};
  const struct {
    const char* argument;
    const char* replaced;
  } cases[] = {
      {"S{serial}", "S1000"},
      {"{serial:08}", "00001000"},
      {"{serial:x}", "3e8"},
      {"{serial:08X}", "000003E8"},
      {"{serial:d}", "1000"},
      {"{mac}", "02:00:5E:10:00:0A"},
      {"{mac:x}", "02005e10000a"},
      {"{mac:X}", "02005E10000A"},
      {"{key}", "K-77"},
      {"@binput{unit.address}<{unit.bin}", "@binput0FF000<run/7.bin"},
      {"{port}-{serial}", "{port}-1000"},  // the board's own placeholders were replaced before
      {"{serial:q} {mac:08}", "{serial:q} {mac:08}"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(replace_unit_placeholders({c.argument}, unit), std::vector<std::string>{c.replaced}) << c.argument;
}

TEST(StationUnits, PlaceholdersNeedTheirPool) {
  const std::vector<PoolSpec> serial_only{declared("1-9", "key\nA\n")[0]};
  Layout no_layout, without_address, with_address;
  std::string why;
  ASSERT_TRUE(parse_layout("serial u8", without_address, why));
  ASSERT_TRUE(parse_layout("0FF000: serial u8", with_address, why));
  const struct {
    std::vector<std::string> job;
    const Layout* layout;
    const char* problem;
  } cases[] = {
      {{"S{serial:04}", "{port}"}, &no_layout, ""},
      {{"{mac}"}, &no_layout, "{mac} in the job needs the mac pool (--mac)"},
      {{"x{key}"}, &no_layout, "{key} in the job needs the key pool (--key)"},
      {{"@binput0FF000<{unit.bin}"}, &no_layout, "{unit.bin} in the job needs --layout"},
      {{"@binput0FF000<{unit.bin}"}, &without_address, ""},
      {{"@binput{unit.address}<{unit.bin}"},
       &without_address,
       "{unit.address} in the job needs an address in --layout (\"0FF000: serial u32be\")"},
      {{"@binput{unit.address}<{unit.bin}"}, &with_address, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(unit_placeholder_problem(c.job, serial_only, *c.layout), c.problem);
  EXPECT_EQ(unknown_placeholder({"{serial:08X}", "{unit.bin}", "{mac:x}"}), "");
  EXPECT_EQ(unknown_placeholder({"{serial:q}"}), "{serial:q}");
  EXPECT_EQ(unknown_placeholder({"{unit.hex}"}), "{unit.hex}");
}

}  // namespace
}  // namespace vx::station
