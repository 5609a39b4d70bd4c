#include "console/diag.h"

#include <cstdio>
#include <mutex>

namespace vx {
namespace {
std::mutex g_lock;
std::function<void(const std::string&)> g_sink;
}  // namespace

void diagnostic(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    sink = g_sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::fprintf(stderr, "vexal: %s\n", line.c_str());
  std::fflush(stderr);
}

void set_diagnostic_sink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_sink = std::move(sink);
}

}  // namespace vx
