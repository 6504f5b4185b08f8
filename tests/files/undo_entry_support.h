// Undo-record entries for the tests of the files layer.
#ifndef TARVEL_TESTS_FILES_UNDO_ENTRY_SUPPORT_H_
#define TARVEL_TESTS_FILES_UNDO_ENTRY_SUPPORT_H_

#include <cstdint>

#include "files/undo_record.h"

namespace tarvel::testing {

// An entry as the scan finds it; what the record adds (times, hashes) is
// left unset.
inline UndoEntry Entry(bool is_file, uint64_t dev, uint64_t ino, uint32_t mode, uint64_t size,
                       bool has_block, bool had_tag, TagBytes block) {
  UndoEntry e;
  e.is_file = is_file;
  e.dev = dev;
  e.ino = ino;
  e.mode = mode;
  e.size = size;
  e.has_block = has_block;
  e.had_tag = had_tag;
  e.block = block;
  return e;
}

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_FILES_UNDO_ENTRY_SUPPORT_H_
