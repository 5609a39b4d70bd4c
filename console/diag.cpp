#include "console/diag.h"

#include <cstdio>
#include <mutex>

#include "console/state.h"

namespace vx {

void diagnostic(const std::string& line) {
  DiagnosticSink sink;
  {
    std::lock_guard<std::mutex> hold(console().lock);
    sink = console().state.sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::fprintf(stderr, "vexal: %s\n", line.c_str());
  std::fflush(stderr);
}

void set_diagnostic_sink(DiagnosticSink sink) {
  std::lock_guard<std::mutex> hold(console().lock);
  console().state.sink = std::move(sink);
}

}  // namespace vx
