// "@load": a firmware file of any format the loader reads (loader/firmware_file.h) sent as a download.
//
// The file is read and checked whole first; then the image goes in address order through the packing
// S2 records use (binwrite_block: the same blocks, encodings, CRC and attempts), and the S8 line with
// the file's start address (000000 when it gave none or one outside the memory) ends it, confirmed with
// "%*". So whatever the format, the board receives what an S2/S8 file of the same image in address
// order gives. With "old" (a BIOS that takes no blocks) the image goes as S2 lines of at most 32 bytes,
// a run of present bytes at a time, then the S8 line, each as a command file's line would go.
#include <string>

#include "console/finish.h"
#include "console/mprintf.h"
#include "console/transfer.h"
#include "loader/checked_file.h"
#include "loader/firmware_file.h"
#include "loader/loader.h"
#include "loader/state.h"
#include "protocol/block.h"
#include "protocol/firmware.h"
#include "protocol/image.h"
#include "protocol/record.h"

namespace vx {

namespace {

constexpr std::size_t kOldLineBytes = 32;

void send_as_blocks(const image::Image& image) {
  image.for_each_block([](std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask) {
    binwrite_block(base, bytes, mask);
  });
}

void send_as_lines(const image::Image& image) {
  image.for_each_block([](std::uint32_t base, const std::uint8_t* bytes, const std::uint8_t* mask) {
    for (std::size_t i = 0; i < kBlockSize;) {
      std::size_t n = 0;
      while (i + n < kBlockSize && n < kOldLineBytes && mask_bit(mask, i + n)) ++n;
      if (n == 0) {
        ++i;
        continue;
      }
      const std::string line = image::s2_line(record::kDataType, base + static_cast<std::uint32_t>(i), bytes + i, n);
      raw_command(line.c_str(), CommandFrom::File);
      transfer_advance(static_cast<std::int64_t>(n));
      i += n;
    }
  });
}

}  // namespace

void load(const char* soubor, std::optional<std::uint32_t> address) {
  CheckedFile file(soubor);
  image::Image image;
  read_firmware(file, address, image);
  transfer_file_opened(file.record(FileRole::Load));
  if (image.size() == 0) {
    mprintf("Error: No data to load in file %s \n", soubor);
    finish(ExitCode::FileFailed);
  }
  // What records before this command left pending belongs to the board before the image does.
  if (block_pending()) sendbin();
  TransferScope transfer(Phase::Loading, soubor, static_cast<std::int64_t>(image.size()));
  const std::string end = image::s2_line(record::kTerminationType, image::end_record_address(image), nullptr, 0);
  if (loader_state().olds24) {
    send_as_lines(image);
    raw_command(end.c_str(), CommandFrom::File);
  } else {
    send_as_blocks(image);
    finish_download(end.c_str());
  }
  // The S8 line confirmed every record sent before it too.
  loader_state().unconfirmed_records.clear();
}

}  // namespace vx
