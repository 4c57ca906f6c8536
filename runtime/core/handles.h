// External handles: system objects that values stand for.
//
// A value that stands for an object of the system or of a library (an
// image's native bitmap, a font, ...) does not hold the object's pointer in
// its cell: it holds the index of an entry of the handle table. The entry
// keeps the pointer and the entry's class, and the class knows how to
// release such a pointer. The collector marks the entries that live values
// reach (`mark`) and then calls `sweep`, which releases every entry left
// unmarked, so a system object dies with the last value that names it.
//
// Classes are numbered from 1 in the order of registration; there is room
// for 20. Entries are numbered from 0. The table is one tracked C-heap
// block; two chains run through the entries' `next` words: the free chain
// and the in-use chain (newest first). The table doubles when the last free
// entry is taken, and never shrinks.
#pragma once

#include <cstdint>

namespace kiv::handles {

inline constexpr uint32_t class_capacity = 20;
inline constexpr uint32_t initial_entries = 1000;
inline constexpr int32_t end_of_chain = -1;

namespace entry_flag {
inline constexpr uint32_t class_mask = 0xFF;
inline constexpr uint32_t free = 0x40000000;
inline constexpr uint32_t mark = 0x80000000;
}  // namespace entry_flag

// Releases a system object; runs at most once per pointer.
using ReleaseFn = void (*)(void* pointer);

struct Entry {
  uint32_t flags;  // class number in the low 8 bits, then the free and mark bits
  int32_t next;    // next entry of the entry's chain, or end_of_chain
  void* pointer;
};

// An empty class table and a table of `initial_entries` free entries.
void init();

// Adds a class; answers its number. More than `class_capacity` classes end
// the process (runtime error 98).
uint32_t register_class(const char* name, ReleaseFn release);
const char* class_name(uint32_t class_number);

// A new entry for `pointer` of class `class_number`; answers its index.
int32_t make(void* pointer, uint32_t class_number);
// Replaces the entry's pointer; the old one, when different, is released
// through the entry's class.
void set_pointer(int32_t index, void* pointer);
// Frees the entry; with `call_release`, its pointer is released through its
// class first. Answers end_of_chain. A free entry is left alone.
int32_t release(int32_t index, bool call_release);

// The collector's marking of an entry that a live value names; a non-null
// `pointer` replaces the entry's pointer. Answers whether the entry was
// unmarked before.
bool mark(int32_t index, void* pointer = nullptr);
// After marking: every unmarked entry in use is released through its class
// and freed; marked ones are unmarked.
void sweep();

// Calls `callback` with the pointer of every entry in use of the class.
void each_of_class(uint32_t class_number, void (*callback)(void* pointer));

// For inspection.
uint32_t capacity();
const Entry& entry(int32_t index);
int32_t in_use_head();
int32_t free_head();

}  // namespace kiv::handles
