// Unit values: what makes each board its own (a serial number, a MAC address, a key from a list), taken
// from pools that never give one value twice, and how they reach the board's job.
//
// A pool is declared once per product:
//   serial  a counter: "1000", "1000-9999" or "0x10000-0x1FFFF" (first and optional last, decimal or
//           hexadecimal; without a last value it ends where its field in the layout does);
//   mac     an address range "02:00:5E:10:00:00-02:00:5E:10:FF:FF", taken in order;
//   key     a list from a CSV file ("keys.csv:COLUMN", the column named in the header row; "keys.csv"
//           alone takes the first column), one value a row, each used once.
// The pools themselves (what is next, what was taken) live in the database (store.h); this module only
// reads their declarations, checks them before any board starts and turns a board's values into text
// and bytes.
//
// The values reach the job in two ways:
//   - placeholders in its arguments: {serial} (decimal), {serial:08} (zero-padded to 8), {serial:x} /
//     {serial:X} / {serial:08X} (hexadecimal), {mac} (02:00:5E:10:00:01), {mac:x} / {mac:X} (twelve
//     hexadecimal digits), {key} (the list's text);
//   - a binary file laid out from the values ("serial u32be, mac 6 bytes, key 16 bytes", optionally
//     after the address it is meant for: "0FF000: serial u32be, ..."), named in the job by {unit.bin}
//     (and its address by {unit.address}). A number goes into u8, u16be/le, u32be/le, u64be/le or
//     "N bytes" (big-endian); a list value into "N bytes" as exactly 2N hexadecimal digits, or into
//     "text N" as its characters padded with zero bytes.
// Every value that can ever be taken is checked against its field before any board starts: a counter's
// or range's last value (and its first), and every row of a list, so a value that doesn't fit is refused
// naming it, never found out on the hundredth board.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx::station {

enum class PoolKind { Counter, Address, List };

// The pools' names, as the placeholders and the layout call them.
inline constexpr const char* kSerialPool = "serial";
inline constexpr const char* kMacPool = "mac";
inline constexpr const char* kKeyPool = "key";

struct PoolSpec {
  std::string name;  // kSerialPool, kMacPool or kKeyPool
  PoolKind kind = PoolKind::Counter;
  std::uint64_t first = 0;          // counter, address
  std::uint64_t last = 0;           // counter, address: the last value that may be taken
  std::vector<std::string> values;  // list: the rows' values in order
  std::vector<std::size_t> rows;    // list: each value's row in its file (the header is row 1)
  std::string source;               // list: the file, as named
  std::string definition;           // as declared ("1000-9999", "keys.csv:key"): kept with the pool
  bool last_declared = false;       // counter: a last value was given (else its layout field bounds it)
};

// One value a board was given.
struct UnitValue {
  std::string pool;
  std::uint64_t number = 0;  // counter, address
  std::string text;          // list
  bool operator==(const UnitValue&) const = default;
};
using UnitValues = std::vector<UnitValue>;

// The value as the records and reports show it: decimal, a MAC address in colons, a list's text.
std::string shown_value(const PoolSpec& pool, const UnitValue& value);

// Parses a declaration into `out`; false with the reason. `csv_text` is the list file's content
// (`file_name` for the messages), read by the caller.
bool parse_counter(const std::string& definition, PoolSpec& out, std::string& why);
bool parse_address_range(const std::string& definition, PoolSpec& out, std::string& why);
bool parse_list(const std::string& csv_text, const std::string& file_name, const std::string& column, PoolSpec& out,
                std::string& why);

// The rows of a CSV text (RFC 4180: fields in double quotes may hold commas, quotes doubled, line
// breaks); false with the line of a quote left open.
bool parse_csv(const std::string& text, std::vector<std::vector<std::string>>& rows, std::string& why);

struct LayoutField {
  std::string pool;
  enum class Kind { Number, Bytes, Text } kind = Kind::Number;
  std::size_t size = 0;  // bytes in the file
  bool little_endian = false;
};

struct Layout {
  std::optional<std::uint32_t> address;  // "0FF000:" before the fields
  std::vector<LayoutField> fields;
  bool empty() const { return fields.empty(); }
};

bool parse_layout(const std::string& text, Layout& out, std::string& why);

// "" when every value the pools can give fits its field in `layout` and every pool the layout names is
// declared; else why not, naming the value (a list's row).
std::string layout_problem(const Layout& layout, const std::vector<PoolSpec>& pools);

// Counters declared without a last value end where their layout field does.
void fit_pools_to_layout(std::vector<PoolSpec>& pools, const Layout& layout);

// The binary file's bytes for one board's values (the layout was checked with layout_problem).
std::vector<std::uint8_t> unit_bytes(const Layout& layout, const UnitValues& values);

// The unit placeholders: true when `word` ("{serial:08}", "{unit.bin}") is one.
bool is_unit_placeholder(const std::string& word);

// "" when every unit placeholder in `job` has what it needs (its pool declared, {unit.bin} a layout) and
// its format suits its pool; else why not.
std::string unit_placeholder_problem(const std::vector<std::string>& job, const std::vector<PoolSpec>& pools,
                                     const Layout& layout);

// True when an argument holds a unit placeholder: its value differs from board to board by construction.
bool holds_unit_placeholder(const std::string& argument);

struct UnitContext {
  const std::vector<PoolSpec>* pools = nullptr;
  const Layout* layout = nullptr;
  UnitValues values;
  std::string unit_file;  // {unit.bin}
};

// The arguments with the unit placeholders replaced (single pass, as the others).
std::vector<std::string> replace_unit_placeholders(const std::vector<std::string>& job, const UnitContext& unit);

}  // namespace vx::station
