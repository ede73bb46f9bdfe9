#pragma once
// One line naming a frame of the cloning link for a person: its direction, its command
// and what it carries ("to radio    E8 code 05 value 200", "to program  E4 record 1910h
// 16 bytes"). The program's trace and the virtual radio's log both use it, so that the
// two can be laid side by side.
#include <string>

#include "base/Types.h"

namespace tarnset {

// The frame as on the wire (FE FE <to> <from> <command> ... FD; the preamble may be
// longer or missing, the end byte missing). Never throws, whatever the bytes.
std::string describeFrame(const Bytes& wire);

}  // namespace tarnset
