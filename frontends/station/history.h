// `vexal-station history`: the attempts the database recorded, as a factory asks for them.
//
//   vexal-station history [--db FILE|URL | --production FILE.toml] [--serial S] [--mac M] [--port P]
//                         [--since T] [--until T] [--failed] [--csv]
//
// The filters add up: --serial and --mac the attempt that was given that value (a MAC in any case, with
// colons), --port its device or by-id name, --since and --until its start in UTC ("2026-12-09" or
// "2026-12-09T10:00"; --until is the first moment left out), --failed every attempt that did not pass
// (failed, unfinished, not started). The text is one line per attempt with the columns a person looks
// at first; --csv gives every column (RFC 4180, a header row) for a spreadsheet or the MES.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vx::station {

// Runs the history command with its arguments (after "history"); the exit status (0, 1 when the
// database can't be read, 2 for a usage error), with the answer on `out` and errors on standard error.
int run_history(const std::vector<std::string>& args, std::FILE* out);

}  // namespace vx::station
