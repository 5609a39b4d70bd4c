// The ELF reader of a build without libelf: every ELF file is refused, with the conversion that reads.
#include "loader/elf_image.h"

namespace vx {

std::optional<image::Refusal> read_elf(int, const image::RecordSink&, std::optional<std::uint64_t>&) {
  return image::Refusal{image::Fault::BadRecord, image::Place{},
                        "can't be read by this build of vexal, which has no ELF reader: convert it with "
                        "objcopy -O ihex and load the HEX file",
                        0};
}

}  // namespace vx
