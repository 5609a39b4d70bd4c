#include "frontends/station/model/job.h"

#include <map>

#include "frontends/station/model/units.h"
#include "frontends/station/views/text.h"

namespace vx::station {

namespace {

constexpr const char* kEndOfOptions = "--";

// vexal's options that have no place in a job, and why.
std::string refused_option(const std::string& argument) {
  if (argument == "-P" || argument == "--port" || argument.rfind("--port=", 0) == 0)
    return "the job holds " + argument + ": the station gives each board its own port";
  if (argument == "--list-ports") return "the job holds --list-ports: vexal would list ports and load no board";
  if (argument == "-h" || argument == "--help" || argument == "-V" || argument == "--version")
    return "the job holds " + argument + ": vexal would print it and leave every board untouched";
  return {};
}

bool asks_for_usage(const std::string& argument) {
  return (!argument.empty() && argument[0] == '?') || (argument.size() > 1 && argument[1] == '?');
}

// Blanks the settings as vexal takes them out: per letter the last argument that begins with it and
// holds no '.' (m only with a digit 0..4), then the last "ram" and "old".
void take_settings(std::vector<std::string>& loader_args) {
  for (char letter : {'b', 'p', 'i', 'm'}) {
    for (std::size_t i = loader_args.size(); i-- > 0;) {
      const std::string& a = loader_args[i];
      if (a.empty() || a[0] != letter || a.find('.') != std::string::npos) continue;
      if (letter != 'm' || (a.size() > 1 && a[1] >= '0' && a[1] <= '4')) loader_args[i].clear();
      break;
    }
  }
  for (const char* word : {"ram", "old"}) {
    for (std::size_t i = loader_args.size(); i-- > 0;) {
      if (loader_args[i] == word) {
        loader_args[i].clear();
        break;
      }
    }
  }
}

}  // namespace

std::string job_problem(const std::vector<std::string>& job, bool identify) {
  std::vector<std::string> loader_args;
  bool options_end = false;
  for (const std::string& argument : job) {
    if (!options_end && argument == kEndOfOptions) {
      options_end = true;
    } else if (!options_end && argument.size() > 1 && argument[0] == '-' && argument.rfind("-?", 0) != 0) {
      std::string problem = refused_option(argument);
      if (!problem.empty()) return problem;
    } else {
      loader_args.push_back(argument);
    }
  }
  for (const std::string& argument : loader_args) {
    if (asks_for_usage(argument))
      return "the job holds '" + argument + "', which asks vexal for its usage: no board would be sent anything";
  }
  if (identify || loader_args.empty()) return {};  // the identity query goes out either way
  take_settings(loader_args);
  for (const std::string& argument : loader_args) {
    if (!argument.empty()) return {};
  }
  return "the job holds only settings, so vexal would send the boards nothing and pass them all; add --identify "
         "or the command " +
         std::string(kIdentityCommand) + " to ask each board for its identity";
}

std::vector<std::string> job_to_run(const std::vector<std::string>& job, bool identify) {
  if (!identify) return job;
  std::vector<std::string> run{kIdentityCommand};
  run.insert(run.end(), job.begin(), job.end());
  return run;
}

std::optional<Collision> colliding_argument(const std::vector<std::string>& job,
                                            const std::vector<PlaceholderValues>& boards) {
  for (const std::string& argument : job) {
    if (replace_placeholders(argument, PlaceholderValues{}) == argument) continue;  // no placeholder: {index} gives 0
    if (holds_unit_placeholder(argument)) continue;  // a board's own values: never two boards' alike
    std::map<std::string, std::size_t> first_with;
    for (std::size_t b = 0; b < boards.size(); ++b) {
      std::string value = replace_placeholders(argument, boards[b]);
      auto [it, added] = first_with.emplace(value, b);
      if (!added) return Collision{argument, value, it->second, b};
    }
  }
  return std::nullopt;
}

std::string shown_command(const std::string& vexal, const std::vector<std::string>& job) {
  std::string line = last_component(vexal) + " --port {port}";
  for (const std::string& argument : job) {
    bool plain = !argument.empty() && argument.find_first_of(" \t'\"<>|&;") == std::string::npos;
    line += plain ? " " + argument : " '" + argument + "'";
  }
  return line;
}

}  // namespace vx::station
