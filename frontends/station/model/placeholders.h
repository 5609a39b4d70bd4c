// The placeholders in a job's arguments: {port} (the device as vexal opens it), {name} (the port's
// short name) and {index} (the job's number, from 1), so each board can read into its own file or be
// given its own data.
//
// The unit placeholders ({serial}, {mac}, {key}, {unit.bin}: units.h) are known here too, but replaced
// only when the board's values have been taken, just before its job starts.
//
// Replacement is literal and single-pass: a value that itself holds "{index}" stays as it is. Any
// other {word} of lower-case letters is a typo the station refuses before it starts a single job,
// rather than send it to every board.
#pragma once

#include <string>
#include <vector>

namespace vx::station {

struct PlaceholderValues {
  std::string port;
  std::string name;
  int index = 0;
};

std::string replace_placeholders(const std::string& argument, const PlaceholderValues& values);

std::vector<std::string> replace_placeholders(const std::vector<std::string>& arguments,
                                              const PlaceholderValues& values);

// "" when every {word} in the arguments is a known placeholder, else the first unknown one ("{nmae}").
std::string unknown_placeholder(const std::vector<std::string>& arguments);

}  // namespace vx::station
