// Diagnostics the console has no room for (the operating system's reason a port can't be opened):
// they go to standard error in the terminal front-end; a test can catch them.
#pragma once

#include <functional>
#include <string>

namespace vx {

using DiagnosticSink = std::function<void(const std::string&)>;

void diagnostic(const std::string& line);
void set_diagnostic_sink(DiagnosticSink sink);  // empty: standard error

}  // namespace vx
