// What a run's end says, for the places outside the console that report it (standard error, the
// event channel, the window's end box).
//
// ErrorLineWatch follows the console's characters as lines between line feeds (the 80-column break
// does not end one; a carriage return starts it again) and keeps the last one completed: when a run
// ends on an error that is its "Error..." line. Its text starts at the message ("Error",
// "Bad format", "Wrong settings", "Target didn't respond"), so the settings line that "Wrong
// settings" continues is left out. The blanks that fill a row up to the console's 80-column break are
// left out too: outside the console they are only padding ("Error: Syntax error:@binget...", not
// "Error: Syntax error" and 240 blanks).
//
// Some failures say more than their console line has room for (a block never accepted: its address,
// the attempts and what came back, where the console shows "Error:s|"); the loader leaves that
// detail here before it ends the run.
#pragma once

#include <string>

#include "console/exit_code.h"  // exit_code_meaning, for the places that report a run's end

namespace vx {

class ErrorLineWatch {
 public:
  void putc(char c);
  std::string error_text() const;

 private:
  std::string current_;
  std::string last_completed_;
};

// `already_said`: standard error has shown it (why the port could not be opened, said as it failed),
// so the outcome line there need not repeat it; the run's record still takes it.
void set_error_detail(const std::string& detail, bool already_said = false);
std::string error_detail();  // empty when none was left
bool error_detail_said();
void clear_error_detail();

}  // namespace vx
