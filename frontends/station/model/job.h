// What a job's arguments will make vexal do, as far as the station must know it before any board runs.
//
// vexal takes its own options (they begin with '-') anywhere before a "--"; the rest are the loader's
// arguments. Of those, the settings (bBAUD, p3f8, iN, m0..m4: the last argument that begins with the
// letter and holds no '.'; the words "old" and "ram") are taken out first wherever they stand, and
// only what remains is sent to the board, in order; with no loader arguments at all vexal asks the
// board for its identity. So a job can look like work and send nothing: settings alone, an empty
// argument, an argument that asks for vexal's usage ('?' first or second). And some options can't be
// part of a job: the station gives each board its port, and an option that makes vexal print and end
// instead of running would pass every board untouched.
//
// job_problem says why such a job is refused; colliding_argument finds a placeholder-built argument
// (a file name) that comes out the same for two boards, which would make them write one file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "frontends/station/model/placeholders.h"

namespace vx::station {

// The command --identify puts first in every job: the board's identity query.
inline constexpr const char* kIdentityCommand = "I000000";

// "" when the job (with --identify when `identify`) sends the board something, else why not.
std::string job_problem(const std::vector<std::string>& job, bool identify);

// The job as every board runs it: with --identify, the identity query first.
std::vector<std::string> job_to_run(const std::vector<std::string>& job, bool identify);

struct Collision {
  std::string argument;               // as given, with its placeholders
  std::string value;                  // what two boards make of it
  std::size_t first = 0, second = 0;  // the boards (positions in `boards`)
};

// The first argument holding a placeholder that two boards turn into the same text.
std::optional<Collision> colliding_argument(const std::vector<std::string>& job,
                                            const std::vector<PlaceholderValues>& boards);

// The job as a person would type it, for the station's first line: "vexal --port {port}" and the
// job's arguments, those with blanks, quotes or shell characters in single quotes.
std::string shown_command(const std::string& vexal, const std::vector<std::string>& job);

}  // namespace vx::station
