// One S-record line read whole: fields, checksums, and where "Bad format:" quotes a line from.
#include <gtest/gtest.h>

#include <string>

#include "protocol/srecord.h"

namespace vx::srecord {
namespace {

struct LineCase {
  const char* edge;
  const char* line;
  Fault fault;
  std::size_t bad_at;
  char type;
  std::uint32_t address;
  std::size_t data_size;
  unsigned stated;
  unsigned computed;
};

// Checksums worked by hand: the ones' complement of the low byte of count + address + data.
TEST(ParseLine, EveryTypeAndEveryFault) {
  const LineCase cases[] = {
      {"S2 with data", "S20701234511223329\n", Fault::None, 0, '2', 0x012345, 3, 0x29, 0x29},
      {"S8 end record", "S804000000FB\n", Fault::None, 0, '8', 0, 0, 0xFB, 0xFB},
      {"S0 header", "S00600004844521B\n", Fault::None, 0, '0', 0, 3, 0x1B, 0x1B},
      {"S1, lower-case digits", "S1051000abcd72\n", Fault::None, 0, '1', 0x1000, 2, 0x72, 0x72},
      {"S3 four address bytes", "S30600010000EE0A\n", Fault::None, 0, '3', 0x10000, 1, 0x0A, 0x0A},
      {"S5 count record", "S5030001FB\n", Fault::None, 0, '5', 1, 0, 0xFB, 0xFB},
      {"S6 count record, 3 bytes", "S604010203F5\n", Fault::None, 0, '6', 0x010203, 0, 0xF5, 0xF5},
      {"S7 end of S3", "S70500000000FA", Fault::None, 0, '7', 0, 0, 0xFA, 0xFA},
      {"S9 end of S1", "S9030000FC", Fault::None, 0, '9', 0, 0, 0xFC, 0xFC},
      {"CR LF and blanks after", "S9030000FC \t\r\n", Fault::None, 0, '9', 0, 0, 0xFC, 0xFC},
      {"one bit flipped in data", "S20701234511223229\n", Fault::Checksum, 16, '2', 0x012345, 3, 0x29, 0x2A},
      {"checksum off", "S804000000FA\n", Fault::Checksum, 10, '8', 0, 0, 0xFA, 0xFB},
      {"count one short: a pair left over", "S20601234511223329\n", Fault::TrailingText, 14, '2', 0x012345, 2, 0x33,
       0x5D},
      {"text after the checksum", "S9030000FC;\n", Fault::TrailingText, 8, '9', 0, 0, 0xFC, 0xFC},
      {"count one long: checksum pair missing", "S20801234511223329\n", Fault::BadPair, 18, '2', 0x012345, 4, 0, 0},
      {"line cut after the address", "S2070123", Fault::BadPair, 8, '2', 0x000123, 0, 0, 0},
      {"bad pair in data", "S207012345112G3329\n", Fault::BadPair, 12, '2', 0x012345, 3, 0, 0},
      {"bad address pair before the count", "S2ZZ01234X11223329\n", Fault::BadPair, 8, '2', 0x0123, 0, 0, 0},
      {"bad count pair", "S2ZZ01234511223329\n", Fault::BadPair, 2, '2', 0x012345, 0, 0, 0},
      {"count can't cover address and checksum", "S2030123451122\n", Fault::ShortCount, 2, '2', 0x012345, 0, 0, 0},
      {"S4 is no record type", "S4030000FC\n", Fault::NotARecord, 1, '\0', 0, 0, 0, 0},
      {"no mark", "X9030000FC\n", Fault::NotARecord, 0, '\0', 0, 0, 0, 0},
      {"mark alone", "S", Fault::NotARecord, 1, '\0', 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edge);
    const Parsed p = parse_line(c.line);
    EXPECT_EQ(p.fault, c.fault);
    if (c.fault != Fault::None) {
      EXPECT_EQ(p.bad_at, c.bad_at);
    }
    EXPECT_EQ(p.record.type, c.type);
    EXPECT_EQ(p.record.address, c.address);
    if (c.fault != Fault::NotARecord) {
      EXPECT_EQ(p.record.data_size, c.data_size);
    }
    EXPECT_EQ(p.record.stated_checksum, c.stated);
    EXPECT_EQ(p.record.computed_checksum, c.computed);
  }
}

TEST(ParseLine, DataBytesInOrder) {
  const Parsed p = parse_line("S20701234511223329\n");
  ASSERT_EQ(p.fault, Fault::None);
  EXPECT_EQ(p.record.data[0], 0x11);
  EXPECT_EQ(p.record.data[1], 0x22);
  EXPECT_EQ(p.record.data[2], 0x33);
}

TEST(ParseLine, ChecksumNotCheckedWhenAsked) {
  const Parsed p = parse_line("S804000000FA\n", false);
  EXPECT_EQ(p.fault, Fault::None);
  EXPECT_EQ(p.record.stated_checksum, 0xFA);
  EXPECT_EQ(p.record.computed_checksum, 0xFB);
  EXPECT_EQ(parse_line("S804000000FA00\n", false).fault, Fault::TrailingText);  // the count still holds
}

TEST(AddressBytes, PerType) {
  const std::string types = "0123456789A";
  const std::size_t expected[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2, 0};
  for (std::size_t i = 0; i < types.size(); ++i) EXPECT_EQ(address_bytes_of(types[i]), expected[i]) << types[i];
}

}  // namespace
}  // namespace vx::srecord
