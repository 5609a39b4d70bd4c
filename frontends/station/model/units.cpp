#include "frontends/station/model/units.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr int kBitsPerByte = 8;
constexpr std::size_t kMacBytes = 6;
constexpr std::size_t kWidestNumber = 8;  // bytes of a u64
// Counters are kept as the database's signed 64-bit integers.
constexpr std::uint64_t kCounterCeiling = (std::uint64_t{1} << 63) - 1;
constexpr std::size_t kHeaderRows = 1;  // a list's CSV file names its columns in its first row
constexpr char kRangeSeparator = '-';

bool parse_number(const std::string& text, std::uint64_t& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(begin, end, out, hex ? 16 : 10);
  return ec == std::errc() && stop == end && begin != end;
}

// "02:00:5E:10:00:00" as a 48-bit number.
bool parse_mac(const std::string& text, std::uint64_t& out) {
  const std::vector<std::string> octets = split(text, ':');
  if (octets.size() != kMacBytes) return false;
  out = 0;
  for (const std::string& octet : octets) {
    unsigned value = 0;
    auto [stop, ec] = std::from_chars(octet.data(), octet.data() + octet.size(), value, 16);
    if (octet.size() != 2 || ec != std::errc() || stop != octet.data() + octet.size()) return false;
    out = (out << kBitsPerByte) | value;
  }
  return true;
}

std::string mac_text(std::uint64_t number, bool colons, bool upper) {
  std::string text;
  for (std::size_t i = kMacBytes; i-- > 0;) {
    if (colons && !text.empty()) text += ':';
    text += formatted(upper ? "%02X" : "%02x", static_cast<unsigned>((number >> (i * kBitsPerByte)) & 0xFF));
  }
  return text;
}

// The largest number `bytes` bytes hold.
std::uint64_t field_max(std::size_t bytes) {
  return bytes >= kWidestNumber ? UINT64_MAX : (std::uint64_t{1} << (bytes * kBitsPerByte)) - 1;
}

bool is_hex_text(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// "first-last" or "first" into its two halves (last empty when not given).
std::pair<std::string, std::string> range_halves(const std::string& definition) {
  std::size_t dash = definition.find(kRangeSeparator);
  if (dash == std::string::npos) return {definition, {}};
  return {definition.substr(0, dash), definition.substr(dash + 1)};
}

const PoolSpec* pool_named(const std::vector<PoolSpec>& pools, const std::string& name) {
  for (const PoolSpec& pool : pools)
    if (pool.name == name) return &pool;
  return nullptr;
}

const UnitValue* value_of(const UnitValues& values, const std::string& pool) {
  for (const UnitValue& value : values)
    if (value.pool == pool) return &value;
  return nullptr;
}

}  // namespace

std::string shown_value(const PoolSpec& pool, const UnitValue& value) {
  switch (pool.kind) {
    case PoolKind::Counter: return std::to_string(value.number);
    case PoolKind::Address: return mac_text(value.number, true, true);
    case PoolKind::List: return value.text;
  }
  return {};
}

bool parse_counter(const std::string& definition, PoolSpec& out, std::string& why) {
  auto [first, last] = range_halves(definition);
  out = PoolSpec{kSerialPool, PoolKind::Counter, 0, kCounterCeiling, {}, {}, {}, definition};
  out.last_declared = definition.find(kRangeSeparator) != std::string::npos;
  if (!parse_number(first, out.first) || (out.last_declared && !parse_number(last, out.last)) ||
      out.last > kCounterCeiling) {
    why = "--serial needs FIRST or FIRST-LAST, decimal or 0x hexadecimal, below 2^63: " + definition;
    return false;
  }
  if (out.first > out.last) {
    why = "--serial " + definition + ": the first value is past the last";
    return false;
  }
  return true;
}

bool parse_address_range(const std::string& definition, PoolSpec& out, std::string& why) {
  const std::vector<std::string> ends = split(definition, kRangeSeparator);
  out = PoolSpec{kMacPool, PoolKind::Address, 0, 0, {}, {}, {}, definition};
  out.last_declared = true;
  if (ends.size() != 2 || !parse_mac(ends[0], out.first) || !parse_mac(ends[1], out.last)) {
    why = "--mac needs a range of addresses, 02:00:5E:10:00:00-02:00:5E:10:FF:FF: " + definition;
    return false;
  }
  if (out.first > out.last) {
    why = "--mac " + definition + ": the first address is past the last";
    return false;
  }
  return true;
}

namespace {

// The CSV reader's state: the rows so far and the field being read.
struct CsvReader {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;       // inside a quoted field
  bool row_started = false;  // the row holds something (a blank line is no row)
  void end_field() {
    row.push_back(std::move(field));
    field.clear();
  }
  void end_row() {
    end_field();
    if (row_started) rows.push_back(std::move(row));
    row.clear();
    row_started = false;
  }
};

}  // namespace

bool parse_csv(const std::string& text, std::vector<std::vector<std::string>>& rows, std::string& why) {
  CsvReader reader;
  std::size_t line = 1, quote_line = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (reader.quoted) {
      if (c != '"') {
        reader.field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        reader.field += text[++i];
      } else {
        reader.quoted = false;
      }
      continue;
    }
    if (c == '"') {
      reader.quoted = reader.row_started = true;
      quote_line = line;
    } else if (c == ',') {
      reader.end_field();
      reader.row_started = true;
    } else if (c == '\n') {
      reader.end_row();
    } else if (c != '\r') {
      reader.field += c;
      reader.row_started = true;
    }
  }
  if (reader.quoted) {
    why = formatted("a quote opened on line %zu is never closed", quote_line);
    return false;
  }
  reader.end_row();
  rows = std::move(reader.rows);
  return true;
}

bool parse_list(const std::string& csv_text, const std::string& file_name, const std::string& column, PoolSpec& out,
                std::string& why) {
  out = PoolSpec{kKeyPool, PoolKind::List, 0, 0, {}, {}, file_name, file_name + (column.empty() ? "" : ":" + column)};
  std::vector<std::vector<std::string>> rows;
  if (!parse_csv(csv_text, rows, why)) {
    why = file_name + ": " + why;
    return false;
  }
  if (rows.size() <= kHeaderRows) {
    why = file_name + " holds no values (its first row names the columns)";
    return false;
  }
  const std::vector<std::string>& header = rows.front();
  auto named = column.empty() ? header.begin() : std::find(header.begin(), header.end(), column);
  if (named == header.end()) {
    why = file_name + " has no column named " + column;
    return false;
  }
  const std::size_t at = static_cast<std::size_t>(named - header.begin());
  std::map<std::string, std::size_t> row_of_value;
  for (std::size_t r = kHeaderRows; r < rows.size(); ++r) {
    const std::size_t row_number = r + 1;
    const std::string value = at < rows[r].size() ? tidied(rows[r][at]) : std::string();
    if (value.empty()) {
      why = formatted("%s row %zu: the %s is empty", file_name.c_str(), row_number, header[at].c_str());
      return false;
    }
    auto [it, added] = row_of_value.emplace(value, row_number);
    if (!added) {
      why = formatted("%s rows %zu and %zu hold the same %s %s: each value is given once", file_name.c_str(),
                      it->second, row_number, header[at].c_str(), value.c_str());
      return false;
    }
    out.values.push_back(value);
    out.rows.push_back(row_number);
  }
  return true;
}

namespace {

// GCC 12 warns, wrongly, of a free of a non-heap object when parse_field's strings are inlined into
// parse_layout (optimised builds, ThreadSanitizer's too): every string here is an ordinary heap string.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"

// A field's kind and width, without its pool's name: the number types' table and the other forms give one.
struct FieldShape {
  LayoutField::Kind kind = LayoutField::Kind::Number;
  std::size_t size = 0;
  bool little_endian = false;
};

const std::map<std::string, FieldShape>& number_types() {
  using Kind = LayoutField::Kind;
  static const std::map<std::string, FieldShape> kTypes{
      {"u8", {Kind::Number, 1, false}},    {"u16be", {Kind::Number, 2, false}}, {"u16le", {Kind::Number, 2, true}},
      {"u32be", {Kind::Number, 4, false}}, {"u32le", {Kind::Number, 4, true}},  {"u64be", {Kind::Number, 8, false}},
      {"u64le", {Kind::Number, 8, true}}};
  return kTypes;
}

// The shape a field's words after its pool's name give, if any.
std::optional<FieldShape> field_shape(const std::vector<std::string>& words) {
  std::uint64_t size = 0;
  if (words.size() == 2 && number_types().count(words[1]) != 0) return number_types().at(words[1]);
  if (words.size() == 3 && words[2] == "bytes" && parse_number(words[1], size) && size > 0)
    return FieldShape{LayoutField::Kind::Bytes, static_cast<std::size_t>(size), false};
  if (words.size() == 3 && words[1] == "text" && parse_number(words[2], size) && size > 0)
    return FieldShape{LayoutField::Kind::Text, static_cast<std::size_t>(size), false};
  return std::nullopt;
}

// "serial u32be", "mac 6 bytes", "key text 12" into `out`.
bool parse_field(const std::string& text, LayoutField& out) {
  const std::vector<std::string> words = split(tidied(text), ' ');
  const std::optional<FieldShape> shape = field_shape(words);
  if (!shape) return false;
  out.pool = words[0];
  out.kind = shape->kind;
  out.size = shape->size;
  out.little_endian = shape->little_endian;
  return true;
}

}  // namespace

bool parse_layout(const std::string& text, Layout& out, std::string& why) {
  out = Layout{};
  std::string fields = text;
  std::size_t colon = text.find(':');
  if (colon != std::string::npos) {
    std::uint64_t address = 0;
    const std::string before = tidied(text.substr(0, colon));
    if (!is_hex_text(before) || !parse_number("0x" + before, address) || address > UINT32_MAX) {
      why = "--layout: '" + before + "' is not an address in hexadecimal";
      return false;
    }
    out.address = static_cast<std::uint32_t>(address);
    fields = text.substr(colon + 1);
  }
  for (const std::string& piece : split(fields, ',')) {
    LayoutField field;
    if (!parse_field(piece, field)) {
      why = "--layout: '" + tidied(piece) +
            "' is no field (POOL u8|u16be|u16le|u32be|u32le|u64be|u64le, POOL N bytes or POOL text N)";
      return false;
    }
    out.fields.push_back(field);
  }
  return true;
}
#pragma GCC diagnostic pop

namespace {

std::string number_field_problem(const LayoutField& field, const PoolSpec& pool) {
  if (pool.kind == PoolKind::List && field.kind == LayoutField::Kind::Number)
    return "the layout's " + field.pool + " is a number, but the " + pool.name + " pool is a list";
  if (pool.kind == PoolKind::List || field.kind == LayoutField::Kind::Text) return {};
  const bool first_too_wide = pool.first > field_max(field.size);
  if (!first_too_wide && pool.last <= field_max(field.size)) return {};
  const std::uint64_t shown = first_too_wide ? pool.first : pool.last;
  return formatted("the %s pool's %s value %s does not fit the layout's %zu bytes", pool.name.c_str(),
                   first_too_wide ? "first" : "last", shown_value(pool, UnitValue{pool.name, shown, {}}).c_str(),
                   field.size);
}

std::string list_row_problem(const LayoutField& field, const PoolSpec& pool, std::size_t i) {
  const std::string& value = pool.values[i];
  const bool fits = field.kind == LayoutField::Kind::Text ? value.size() <= field.size
                                                          : value.size() == 2 * field.size && is_hex_text(value);
  if (fits) return {};
  const char* wanted = field.kind == LayoutField::Kind::Text ? "at most %zu characters" : "%zu bytes in hexadecimal";
  return formatted("%s row %zu: the %s %s doesn't fit its field (", pool.source.c_str(), pool.rows[i],
                   pool.name.c_str(), value.c_str()) +
         formatted(wanted, field.size) + ")";
}

}  // namespace

std::string layout_problem(const Layout& layout, const std::vector<PoolSpec>& pools) {
  for (const LayoutField& field : layout.fields) {
    const PoolSpec* pool = pool_named(pools, field.pool);
    if (pool == nullptr) return "the layout names " + field.pool + ", which is no pool declared (--" + field.pool + ")";
    std::string problem = number_field_problem(field, *pool);
    for (std::size_t i = 0; problem.empty() && pool->kind == PoolKind::List && i < pool->values.size(); ++i)
      problem = list_row_problem(field, *pool, i);
    if (!problem.empty()) return problem;
  }
  return {};
}

void fit_pools_to_layout(std::vector<PoolSpec>& pools, const Layout& layout) {
  for (const LayoutField& field : layout.fields) {
    for (PoolSpec& pool : pools) {
      if (pool.name == field.pool && pool.kind == PoolKind::Counter && !pool.last_declared &&
          field.kind != LayoutField::Kind::Text)
        pool.last = std::min(pool.last, field_max(field.size));
    }
  }
}

namespace {

void append_number(std::vector<std::uint8_t>& bytes, std::uint64_t number, std::size_t size, bool little_endian) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t shift = (little_endian ? i : size - 1 - i) * kBitsPerByte;
    bytes.push_back(shift < 64 ? static_cast<std::uint8_t>((number >> shift) & 0xFF) : 0);
  }
}

void append_list_value(std::vector<std::uint8_t>& bytes, const std::string& text, const LayoutField& field) {
  if (field.kind == LayoutField::Kind::Text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.insert(bytes.end(), field.size - std::min(field.size, text.size()), 0);
    return;
  }
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    unsigned value = 0;
    auto [stop, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    bytes.push_back(ec == std::errc() ? static_cast<std::uint8_t>(value) : 0);
  }
}

}  // namespace

std::vector<std::uint8_t> unit_bytes(const Layout& layout, const UnitValues& values) {
  std::vector<std::uint8_t> bytes;
  for (const LayoutField& field : layout.fields) {
    const UnitValue* value = value_of(values, field.pool);
    if (value == nullptr) {
      bytes.insert(bytes.end(), field.size, 0);
    } else if (!value->text.empty()) {
      append_list_value(bytes, value->text, field);
    } else if (field.kind == LayoutField::Kind::Text) {
      append_list_value(bytes, std::to_string(value->number), field);
    } else {
      append_number(bytes, value->number, field.size, field.little_endian);
    }
  }
  return bytes;
}

namespace {

constexpr const char* kUnitFile = "unit.bin";
constexpr const char* kUnitAddress = "unit.address";
constexpr int kAddressDigits = 6;

struct PlaceholderWord {
  std::string name;
  std::string format;
};

// "{serial:08}" -> {"serial", "08"}.
PlaceholderWord split_word(const std::string& word) {
  const std::string inner = word.substr(1, word.size() - 2);
  const std::size_t colon = inner.find(':');
  if (colon == std::string::npos) return {inner, {}};
  return {inner.substr(0, colon), inner.substr(colon + 1)};
}

// A counter's format: digits (zero-padded width), then d, x or X.
bool counter_format_valid(const std::string& format) {
  std::size_t digits = 0;
  while (digits < format.size() && std::isdigit(static_cast<unsigned char>(format[digits]))) ++digits;
  const std::string radix = format.substr(digits);
  return radix.empty() || radix == "d" || radix == "x" || radix == "X";
}

bool format_valid(const PlaceholderWord& word) {
  if (word.name == kSerialPool) return counter_format_valid(word.format);
  if (word.name == kMacPool) return word.format.empty() || word.format == "x" || word.format == "X";
  return word.format.empty() && (word.name == kKeyPool || word.name == kUnitFile || word.name == kUnitAddress);
}

std::string counter_text(std::uint64_t number, const std::string& format) {
  const std::string width = format.substr(0, format.find_first_not_of("0123456789"));
  const char radix = format.empty() || format.back() == 'd' || std::isdigit(static_cast<unsigned char>(format.back()))
                         ? 'd'
                         : format.back();
  const std::string pattern = "%0" + width + (radix == 'd' ? "llu" : radix == 'x' ? "llx" : "llX");
  return formatted(pattern.c_str(), static_cast<unsigned long long>(number));
}

// Every {word} of the arguments that is a unit placeholder, split.
std::vector<PlaceholderWord> unit_words(const std::vector<std::string>& job);

std::string word_value(const PlaceholderWord& word, const UnitContext& unit) {
  if (word.name == kUnitFile) return unit.unit_file;
  if (word.name == kUnitAddress)
    return unit.layout && unit.layout->address ? formatted("%0*X", kAddressDigits, *unit.layout->address) : "";
  const UnitValue* value = value_of(unit.values, word.name);
  if (value == nullptr) return {};
  if (word.name == kMacPool)
    return word.format.empty() ? mac_text(value->number, true, true)
                               : mac_text(value->number, false, word.format == "X");
  if (word.name == kSerialPool) return counter_text(value->number, word.format);
  return value->text;
}

}  // namespace

bool is_unit_placeholder(const std::string& word) {
  return word.size() > 2 && word.front() == '{' && word.back() == '}' && format_valid(split_word(word));
}

bool holds_unit_placeholder(const std::string& argument) { return !unit_words({argument}).empty(); }

namespace {

std::vector<PlaceholderWord> unit_words(const std::vector<std::string>& job) {
  std::vector<PlaceholderWord> words;
  for (const std::string& argument : job) {
    for (std::size_t at = argument.find('{'); at != std::string::npos; at = argument.find('{', at + 1)) {
      std::size_t end = argument.find('}', at);
      if (end == std::string::npos) break;
      std::string word = argument.substr(at, end - at + 1);
      if (is_unit_placeholder(word)) words.push_back(split_word(word));
    }
  }
  return words;
}

}  // namespace

std::string unit_placeholder_problem(const std::vector<std::string>& job, const std::vector<PoolSpec>& pools,
                                     const Layout& layout) {
  for (const PlaceholderWord& word : unit_words(job)) {
    const bool file_word = word.name == kUnitFile || word.name == kUnitAddress;
    if (file_word && layout.empty()) return "{" + word.name + "} in the job needs --layout";
    if (word.name == kUnitAddress && !layout.address)
      return "{unit.address} in the job needs an address in --layout (\"0FF000: serial u32be\")";
    if (!file_word && pool_named(pools, word.name) == nullptr)
      return "{" + word.name + "} in the job needs the " + word.name + " pool (--" + word.name + ")";
  }
  return {};
}

std::vector<std::string> replace_unit_placeholders(const std::vector<std::string>& job, const UnitContext& unit) {
  std::vector<std::string> replaced;
  for (const std::string& argument : job) {
    std::string out;
    for (std::size_t at = 0; at < argument.size();) {
      std::size_t end = argument[at] == '{' ? argument.find('}', at) : std::string::npos;
      std::string word = end == std::string::npos ? std::string() : argument.substr(at, end - at + 1);
      if (!word.empty() && is_unit_placeholder(word)) {
        out += word_value(split_word(word), unit);
        at = end + 1;
      } else {
        out += argument[at++];
      }
    }
    replaced.push_back(out);
  }
  return replaced;
}

}  // namespace vx::station
