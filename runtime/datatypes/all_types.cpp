#include "runtime/datatypes/all_types.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"

namespace kiv::datatypes {

// The order is fixed: a child copies its parent's slots when it registers.
// Types join this list as they are built.
void register_all() {
  datatype::reset_registry();
  datatype::init();
  unset::init();
  none::init();
  logic::init();
  series_type::register_type();
  block::register_types();
  string::register_type();
  // binary!
  integer::init();
  symbol::register_type();
  context::register_type();
  word::register_types();  // word!, lit-word!, set-word!, get-word!, refinement!
  char_::init();
  native::register_types();  // native!, action!, op!
  block::register_paths();   // path!, lit-path!, set-path!, get-path!
  function::register_type();
  routine::register_type();
  block::register_paren();
  word::register_issue();
  // url!, file!
  object::register_type();
  // bitset!, triple!
  float_::init();
  typeset::register_type();
  error_type::register_type();
  // vector!, map!, hash!, pair!
  percent::init();
  // tuple!, time!
  tag::register_type();
  email::register_type();
  // handle!, date!, port!, money!
  ref::register_type();
  // point2D!, point3D!, the imaging layer, then image!.
}

}  // namespace kiv::datatypes
