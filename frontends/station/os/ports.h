// The ports a station can drive, as `vexal --list-ports` lists them, and the --match filter. A port
// given by --ports or --ports-file may also be a network URL (rfc2217://HOST:PORT, tcp://HOST:PORT),
// which vexal opens; it is in no listing.
//
// The listing is one port a line, five TAB-separated fields (device, by-id name, VID:PID, USB serial
// number, description), "-" where a field is unknown; a line of another shape is skipped, so a
// listing from a newer vexal with more to say can't derail the station. A port's short name (the
// {name} of a job and its log file's name) is its by-id name when it has one, else the device's file
// name. A --match pattern is either a list of VID:PID pairs ("0403:6001,067b:2303": any pattern with a
// ':', since by-id names hold none) or a glob over the by-id name; a port with no by-id name only ever
// matches the VID:PID form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vx::station {

struct PortInfo {
  std::string device;       // the path vexal opens
  std::string by_id;        // name of the /dev/serial/by-id link, "" when unknown
  std::string vid_pid;      // "0403:6001", "" when unknown
  std::string serial;       // USB serial number, "" when unknown
  std::string description;  // manufacturer and product, "" when unknown
  std::string name = {};    // the name a ports file gives it (port_file.h), "" for none
};

// The ports in a listing; lines not of five fields are skipped.
std::vector<PortInfo> parse_port_listing(std::string_view listing);

// The name a ports file gave, else the by-id name, else the device's last path component (for a
// network URL, "HOST:PORT").
std::string short_name(const PortInfo& port);

// A port named on the command line: `path` as given (vexal opens it so), completed from the listing
// entry whose device is the same file, and named after the by-id link when `path` is one.
PortInfo port_from_path(const std::string& path, const std::vector<PortInfo>& listing);

// The ports --ports and --ports-file give, in order: each as port_from_path makes it, named by its
// ports file: the name beside it in `names` ("" for none).
std::vector<PortInfo> ports_from_paths(const std::vector<std::string>& paths, const std::vector<std::string>& names,
                                       const std::vector<PortInfo>& listing);

// The first of `paths` that names the same file as one before it (two jobs can't share a port), or "".
std::string repeated_port(const std::vector<std::string>& paths);

class PortMatcher {
 public:
  // Adds one --match value; false with the reason when it is neither form.
  bool add(const std::string& pattern, std::string& why);
  bool empty() const { return globs_.empty() && ids_.empty(); }
  // True when any pattern matches (always true with none given).
  bool matches(const PortInfo& port) const;

 private:
  std::vector<std::string> globs_;
  std::vector<std::string> ids_;  // lower-case "vvvv:pppp"
};

// The ports of `listing` that `matcher` lets through, in the listing's order.
std::vector<PortInfo> matching_ports(const std::vector<PortInfo>& listing, const PortMatcher& matcher);

}  // namespace vx::station
