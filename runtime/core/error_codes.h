// Error codes of the catalogue `system/catalog/errors`.
//
// An error's code is 100 x its category's position plus the id's position
// within the category, counted from 0: script/no-value, the first id of the
// fourth category, is 300. The catalogue, the Kiv data file
// library/errors.kiv, is the one place a category or an id is written. The
// build generates the rest of this header from it (tools/gen_error_ids.py
// writes generated/error_ids.h in the build tree):
//
//   - `Category`'s enumerators, one for each category by position;
//   - a constant for each id, error_id::<category>::<id> (error_id::script::no_value),
//     the words in lower case with "-" made "_", and a trailing "_" on a
//     C++ keyword or a name that would clash (error_id::throw_::break_);
//   - `category_words` and `catalogue_words`, the catalogue words by
//     position and by code, with which start-up checks that the catalogue
//     it reads has each id where its code says (error_catalog.h).
//
// Adding an id means adding it to errors.kiv; moving or removing one
// changes codes, which scripts may rely on.
#pragma once

#include <cstdint>

namespace kiv::error_id {

// Category positions; the generated header lists them.
enum class Category : uint8_t;

struct Code {
  uint16_t value;
  constexpr Category category() const { return static_cast<Category>(value / 100); }
  constexpr int position() const { return value % 100; }
  friend constexpr bool operator==(Code, Code) = default;
};

// The catalogue words of an id.
struct CatalogueWords {
  Code code;
  const char* category;
  const char* id;
};

}  // namespace kiv::error_id

#include "generated/error_ids.h"
