// The I/O actions of file!: read, write, query, delete and rename, over
// os_files.h.
//
// read: a directory path (ending in "/", or "." or "..") gives its listing,
//   a block of file! names sorted by name, directories ending in "/";
//   a file gives its content: a string! decoded from UTF-8 (malformed text
//   raises access/invalid-utf8), with /binary a binary!, with /lines a
//   block! of strings (LF or CR LF ends a line; a last line without one
//   counts). /part and /seek count bytes. Anything that cannot be read
//   raises access/cannot-open with the file.
// write: a string! as UTF-8 (line ends written as they are: LF), a binary!
//   as its bytes, anything else molded; /lines writes a block's values one
//   per line, each ended by LF. Without /append or /seek the whole file is
//   replaced through a new file (see os_files.h), so a failed write leaves
//   the old content. Answers the number of bytes written, -1 for a
//   negative /part (nothing written). A failure raises access/cannot-open.
// query: an object of name, size, date and type ('file or 'dir), or none
//   when the path names nothing. The date is none until date! exists.
// delete, rename: true when done, false otherwise.
#pragma once

#include <string>

#include "runtime/core/cell.h"

namespace kiv::file_io {

// A new block! of the lines of UTF-8 text, split as read/lines splits a
// file (also the /lines form of an HTTP reply). May collect.
Cell lines_to_block(const std::string& bytes);

// Gives file! its I/O actions; file! must be registered.
void register_actions();

}  // namespace kiv::file_io
