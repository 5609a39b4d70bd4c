#include "board/options.h"

#include <map>

#include "cli/option_table.h"

namespace vx::board {

namespace {

using cli::parse_number;

std::string set_baud(Options& o, const std::string& v) {
  if (!parse_number(v, o.baud) || o.baud == 0 || o.baud > kMaxBaud) return "--baud needs a rate in bits per second";
  return {};
}

std::string set_parity(Options& o, const std::string& v) {
  static const std::map<std::string, Parity> kNames{
      {"none", Parity::None}, {"odd", Parity::Odd}, {"even", Parity::Even}};
  auto it = kNames.find(v);
  if (it == kNames.end()) return "--parity is none, odd or even";
  o.parity = it->second;
  return {};
}

std::string set_think(Options& o, const std::string& v) {
  unsigned ms;
  if (!parse_number(v, ms)) return "--think needs milliseconds";
  o.think = Millis(ms);
  return {};
}

std::string answer_text_problem(const std::string& what, const std::string& text) {
  if (text.size() > kMaxAnswerText)
    return what + " is longer than an answer frame holds (" + std::to_string(kMaxAnswerText) + " characters)";
  return {};
}

std::string set_identity(Options& o, const std::string& v) {
  if (v.empty()) return "--identity needs a text";
  o.board.identity = v;
  return answer_text_problem("--identity", v);
}

std::string add_answer(Options& o, const std::string& v) {
  std::size_t eq = v.find('=');
  if (eq == std::string::npos) return "--answer needs TEXT=ANSWER";
  std::string answer = v.substr(eq + 1);
  o.board.answers[v.substr(0, eq)] = answer;
  return answer_text_problem("the answer to " + v.substr(0, eq), answer);
}

std::string add_load(Options& o, const std::string& v) {
  std::size_t at = v.rfind('@');
  LoadSpec load{v.substr(0, at == std::string::npos ? 0 : at), 0};
  if (at == std::string::npos || load.file.empty() || !parse_number(v.substr(at + 1), load.address, 16) ||
      load.address >= kMemorySize)
    return "--load needs FILE@ADDR with a hexadecimal address below 1000000";
  o.loads.push_back(load);
  return {};
}

std::string set_dump(Options& o, const std::string& v) {
  std::size_t at = v.rfind('@');
  DumpSpec dump{v.substr(0, at), Range{}};
  if (at != std::string::npos) {
    std::string range = v.substr(at + 1);
    std::size_t comma = range.find(',');
    std::uint64_t length = 0;
    if (comma == std::string::npos || !parse_number(range.substr(0, comma), dump.range.address, 16) ||
        !parse_number(range.substr(comma + 1), length, 16) || !Memory::in_range(dump.range.address, length))
      return "--dump needs FILE or FILE@ADDR,LEN (hexadecimal, inside the 16 MiB)";
    dump.range.length = static_cast<std::size_t>(length);
  }
  if (dump.file.empty()) return "--dump needs a file name";
  o.dump = dump;
  return {};
}

std::string add_fault(Options& o, const std::string& v) {
  FaultRule rule;
  std::string why;
  if (!parse_fault(v, rule, why)) return "--fault " + v + ": " + why;
  o.faults.push_back(rule);
  return {};
}

std::string set_seed(Options& o, const std::string& v) {
  if (!parse_number(v, o.seed)) return "--seed needs a whole number";
  return {};
}

std::string set_text(std::string& field, const char* name, const std::string& v) {
  if (v.empty()) return std::string(name) + " needs a value";
  field = v;
  return {};
}

const cli::OptionTable<Options>& definitions() {
  static const cli::OptionTable<Options> kDefs{
      {"--link", {true, [](Options& o, const std::string& v) { return set_text(o.link, "--link", v); }}},
      {"--device", {true, [](Options& o, const std::string& v) { return set_text(o.device, "--device", v); }}},
      {"--log", {true, [](Options& o, const std::string& v) { return set_text(o.log, "--log", v); }}},
      {"--baud", {true, set_baud}},
      {"--parity", {true, set_parity}},
      {"--think", {true, set_think}},
      {"--identity", {true, set_identity}},
      {"--answer", {true, add_answer}},
      {"--load", {true, add_load}},
      {"--dump", {true, set_dump}},
      {"--fault", {true, add_fault}},
      {"--seed", {true, set_seed}},
      {"--old-bios",
       {false,
        [](Options& o, const std::string&) {
          o.board.old_bios = true;
          return std::string();
        }}},
      {"--help", {false, cli::flag(&Options::help)}},
      {"--version", {false, cli::flag(&Options::version)}},
  };
  return kDefs;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, Options& out, std::string& why) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    why = cli::apply_option(definitions(), args, i, o, "--help lists them");
    if (!why.empty()) return false;
  }
  out = std::move(o);
  return true;
}

std::string usage_text() {
  return R"(Usage: vq3140-sim [options]
A VQ-3140 board with its BIOS ZARVEN on a pseudo-terminal (or a serial port), for vexal to talk to.
Prints the device's path and serves until SIGINT or SIGTERM.

Line:
  --link PATH            also make PATH a symbolic link to the device (VEXAL_COM1=PATH vexal ...)
  --device DEV           serve on a real serial port instead of a pseudo-terminal
  --baud N               line speed: paces the answers on a pseudo-terminal, sets the port's rate
  --parity none|odd|even parity (11 bits a character; on a port, the port's parity)
  --think MS             the board's processing time per telegram
Board:
  --identity TEXT        the answer to the identity query (default "VQ-3140 ZARVEN v1.28")
  --old-bios             a BIOS older than 1.28: block telegrams are refused
  --answer TEXT=ANSWER   answer ANSWER to the command TEXT (without its line feed); repeatable
Memory (16 MiB, erased to FF; ADDR and LEN hexadecimal):
  --load FILE@ADDR       put a raw file into the memory before starting; repeatable
  --dump FILE[@ADDR,LEN] write the memory (or a range) to FILE when stopped
Faults (see docs/simulator.md):
)" + fault_usage() +
         R"(  --seed S               seed of the random faults (default 1)
Other:
  --log FILE             log every frame in and out, in hex with time stamps ('-': standard error)
  --help, --version
)";
}

}  // namespace vx::board
