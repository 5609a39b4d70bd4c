// The command-file interpreter on arbitrary files, the whole loader around it, against a scripted board
// (fake clock: silence and late answers cost no real time) whose answers come from the input.
//
// Input, in sections separated by 0x1E: the command file j.txt (run as the only argument), a second
// file n.txt that j.txt may nest ("#n.txt"), then the board's answers, used in turn, one per request:
//   T<text>  the text in a proper answer frame      S         silence
//   R<bytes> these bytes as they are                L<text>   the frame after the read window
//   P<text>  the frame in two halves, 40 ms apart   <other>   the whole section as answer text
// Without answers the board answers by its default rules. After kTelegramBudget requests it falls
// silent, so every run ends soon. Names in the files can't leave the scratch folder.
//
// Invariants: the run ends with one of the loader's exit codes and "Exit code N"; any end but 0 comes
// with a line that says what failed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/support/scripted_board.h"

namespace {

using vx::fuzz::require;
using vx::test::Chunk;
using vx::test::ScriptedBoard;

constexpr int kTelegramBudget = 1500;
constexpr vx::Millis kPrompt{1};
constexpr vx::Millis kLate{400};  // after the loader's 306 ms window
constexpr vx::Millis kPause{40};  // longer than the loader's 15 ms between bytes

std::vector<Chunk> answer_from(const std::string& section) {
  const std::string rest = section.empty() ? std::string() : section.substr(1);
  const char kind = section.empty() ? 0 : section[0];
  switch (kind) {
    case 'S': return {};
    case 'R': return {Chunk{kPrompt, vx::test::bytes_of(rest)}};
    case 'L': return {Chunk{kLate, vx::fuzz::answer_frame(rest)}};
    case 'P': {
      const vx::test::Bytes frame = vx::fuzz::answer_frame(rest);
      const auto half = frame.begin() + static_cast<long>(frame.size() / 2);
      return {Chunk{kPrompt, {frame.begin(), half}}, Chunk{kPause, {half, frame.end()}}};
    }
    case 'T': return {Chunk{kPrompt, vx::fuzz::answer_frame(rest)}};
    default: return {Chunk{kPrompt, vx::fuzz::answer_frame(section)}};
  }
}

bool known_exit_code(int code) { return code == 0 || (code >= 3 && code <= 9); }

// "Exit code %d" as mprintf prints it: the number right-justified in its field of five.
bool ends_with_exit_code(const std::string& stream, int code) {
  const std::string mark = "Exit code ";
  const std::size_t at = stream.rfind(mark);
  if (at == std::string::npos) return false;
  const std::string number = stream.substr(at + mark.size());
  const std::size_t digits = number.find_first_not_of(' ');
  return digits != std::string::npos && number.substr(digits) == std::to_string(code);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = vx::fuzz::sections(data, size);
  const vx::fuzz::ScratchDir scratch;
  vx::fuzz::ScratchDir::write("j.txt", vx::fuzz::confined(parts[0]));
  vx::fuzz::ScratchDir::write("n.txt", vx::fuzz::confined(parts.size() > 1 ? parts[1] : std::string()));
  const std::vector<std::string> answers(parts.begin() + std::min<std::size_t>(parts.size(), 2), parts.end());

  ScriptedBoard board;
  int requests = 0;
  board.handler = [&](const vx::test::Bytes& request) -> std::vector<Chunk> {
    if (++requests > kTelegramBudget) return {};
    if (answers.empty()) return board.answer_by_rules(request);
    return answer_from(answers[static_cast<std::size_t>(requests - 1) % answers.size()]);
  };
  const vx::test::LoaderRun run = vx::test::run_loader({"j.txt"}, board);

  require(known_exit_code(run.code), "exit code " + std::to_string(run.code) + " is none of the loader's");
  require(ends_with_exit_code(run.stream, run.code), "the run did not end with its exit code:\n" + run.stream);
  if (run.code != 0) require(vx::fuzz::reports_a_failure(run.stream), "exit code without its message:\n" + run.stream);
  return 0;
}
