#include "runtime/datatypes/all_types.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/file_io.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/url_io.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace kiv::datatypes {

// The order is fixed: a child copies its parent's slots when it registers.
// Types join this list as they are built. Each datatype module registers
// its types through `register_types`; a few register some of theirs later
// (paths, paren, issue), when the types they copy from are in place.
void register_all() {
  datatype::reset_registry();
  datatype::register_types();
  unset::register_types();
  none::register_types();
  logic::register_types();
  series_type::register_types();
  block::register_types();
  string::register_types();
  binary::register_types();
  integer::register_types();
  symbol::register_types();
  context::register_types();
  word::register_types();  // word!, lit-word!, set-word!, get-word!, refinement!
  char_::register_types();
  native::register_types();  // native!, action!, op!
  block::register_paths();   // path!, lit-path!, set-path!, get-path!
  function::register_types();
  routine::register_types();
  block::register_paren();
  word::register_issue();
  url::register_types();
  file::register_types();
  file_io::register_actions();
  object::register_types();
  bitset::register_types();
  triple::register_types();
  float_::register_types();
  typeset::register_types();
  error_value::register_types();
  vector::register_types();
  hash::register_types();
  map::register_types();
  pair::register_types();
  percent::register_types();
  tuple::register_types();
  time_::register_types();
  tag::register_types();
  email::register_types();
  handle::register_types();
  date::register_types();
  port::register_types();
  url_io::register_actions();  // after file!, which keeps its own
  money::register_types();
  ref::register_types();
  point::register_types();  // point2D!, point3D!
  // the imaging layer, then image!.
}

}  // namespace kiv::datatypes
