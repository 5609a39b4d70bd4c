#include "frontends/station/model/events.h"

#include <map>
#include <nlohmann/json.hpp>

namespace vx::station {

namespace {

using nlohmann::json;

std::string text_of(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

template <typename T>
T number_of(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_number() ? it->get<T>() : T{};
}

Count count_of(const json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_number_integer() ? Count(it->get<std::int64_t>()) : std::nullopt;
}

EventKind kind_of(const std::string& name) {
  static const std::map<std::string, EventKind> kKinds{
      {"start", EventKind::Start},       {"phase", EventKind::Phase}, {"identity", EventKind::Identity},
      {"progress", EventKind::Progress}, {"file", EventKind::File},   {"end", EventKind::End}};
  auto it = kKinds.find(name);
  return it == kKinds.end() ? EventKind::Other : it->second;
}

Event event_from(const json& object) {
  Event event;
  event.kind = kind_of(text_of(object, "event"));
  event.phase = text_of(object, "phase");
  event.file = text_of(object, "file");
  event.port = text_of(object, "port");
  event.text = text_of(object, event.kind == EventKind::Start      ? "version"
                               : event.kind == EventKind::Identity ? "id"
                                                                   : "error");
  event.done = number_of<std::int64_t>(object, "done");
  event.total = number_of<std::int64_t>(object, "total");
  event.bytes = count_of(object, "bytes");
  event.code = number_of<int>(object, "code");
  event.seconds = number_of<double>(object, "seconds");
  event.role = text_of(object, "role");
  event.path = text_of(object, "path");
  event.size = count_of(object, "size");
  event.sha256 = text_of(object, "sha256");
  event.reason = text_of(object, "reason");
  event.written = count_of(object, "written");
  event.read = count_of(object, "read");
  event.text_retries = count_of(object, "text_retries");
  event.block_retries = count_of(object, "block_retries");
  return event;
}

}  // namespace

std::optional<Event> parse_event(std::string_view line) {
  json object = json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) return std::nullopt;
  auto name = object.find("event");
  if (name == object.end() || !name->is_string()) return std::nullopt;
  return event_from(object);
}

void EventLines::feed(std::string_view data, const std::function<void(std::string_view)>& line) {
  while (!data.empty()) {
    std::size_t end = data.find('\n');
    std::string_view piece = data.substr(0, end);
    if (!overlong_) partial_.append(piece);
    if (partial_.size() > kMaxEventLine) {
      partial_.clear();
      overlong_ = true;
    }
    if (end == std::string_view::npos) return;
    if (!overlong_) line(partial_);
    partial_.clear();
    overlong_ = false;
    data.remove_prefix(end + 1);
  }
}

}  // namespace vx::station
