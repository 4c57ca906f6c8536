// Error codes of the catalogue `system/catalog/errors`.
//
// An error's code is 100 x its category's position plus the id's position
// within the category, counted from 0. The catalogue itself is the Kiv
// data file library/errors.kiv; the constants below restate its numbering
// for C++ code, and start-up checks the two against each other
// (error_catalog.h): every constant must appear in `catalogue_words` with
// its category and id words, and `catalogue_words` must list exactly the
// catalogue's ids. Adding an id means adding it to both, in the same place.
#pragma once

#include <cstdint>

namespace kiv::err {

// Category positions.
enum class Category : uint8_t {
  throw_ = 0,
  note = 1,
  syntax = 2,
  script = 3,
  math = 4,
  access = 5,
  reserved1 = 6,
  reserved2 = 7,
  user = 8,
  internal = 9,
};

struct Code {
  uint16_t value;
  constexpr Category category() const { return static_cast<Category>(value / 100); }
  constexpr int position() const { return value % 100; }
  friend constexpr bool operator==(Code, Code) = default;
};

namespace throw_ {
inline constexpr Code break_{0};
inline constexpr Code return_{1};
inline constexpr Code throw_{2};
inline constexpr Code continue_{3};
inline constexpr Code while_cond{4};
}  // namespace throw_

namespace note {
inline constexpr Code no_load{100};
}  // namespace note

namespace syntax {
inline constexpr Code invalid{200};
inline constexpr Code missing{201};
inline constexpr Code no_header{202};
inline constexpr Code no_ks_header{203};
inline constexpr Code bad_header{204};
inline constexpr Code malconstruct{205};
inline constexpr Code bad_char{206};
}  // namespace syntax

namespace script {
inline constexpr Code no_value{300};
inline constexpr Code need_value{301};
inline constexpr Code not_defined{302};
inline constexpr Code not_in_context{303};
inline constexpr Code no_arg{304};
inline constexpr Code expect_arg{305};
inline constexpr Code expect_val{306};
inline constexpr Code expect_type{307};
inline constexpr Code cannot_use{308};
inline constexpr Code invalid_arg{309};
inline constexpr Code invalid_type{310};
inline constexpr Code invalid_type_spec{311};
inline constexpr Code invalid_key_type{312};
inline constexpr Code invalid_op{313};
inline constexpr Code no_op_arg{314};
inline constexpr Code bad_op_spec{315};
inline constexpr Code invalid_data{316};
inline constexpr Code invalid_part{317};
inline constexpr Code not_same_type{318};
inline constexpr Code not_same_class{319};
inline constexpr Code not_related{320};
inline constexpr Code bad_func_def{321};
inline constexpr Code bad_func_arg{322};
inline constexpr Code bad_func_extern{323};
inline constexpr Code no_refine{324};
inline constexpr Code bad_refines{325};
inline constexpr Code bad_refine{326};
inline constexpr Code dup_refine{327};
inline constexpr Code word_first{328};
inline constexpr Code empty_path{329};
inline constexpr Code unset_path{330};
inline constexpr Code invalid_path{331};
inline constexpr Code invalid_path_set{332};
inline constexpr Code invalid_path_get{333};
inline constexpr Code bad_path_type{334};
inline constexpr Code bad_path_type2{335};
inline constexpr Code bad_path_set{336};
inline constexpr Code bad_field_set{337};
inline constexpr Code dup_vars{338};
inline constexpr Code past_end{339};
inline constexpr Code missing_arg{340};
inline constexpr Code out_of_range{341};
inline constexpr Code invalid_chars{342};
inline constexpr Code invalid_compare{343};
inline constexpr Code wrong_type{344};
inline constexpr Code invalid_refine_arg{345};
inline constexpr Code type_limit{346};
inline constexpr Code size_limit{347};
inline constexpr Code no_return{348};
inline constexpr Code throw_usage{349};
inline constexpr Code locked_word{350};
inline constexpr Code protected_{351};
inline constexpr Code bad_bad{352};
inline constexpr Code bad_make_arg{353};
inline constexpr Code bad_to_arg{354};
inline constexpr Code invalid_months{355};
inline constexpr Code invalid_spec_field{356};
inline constexpr Code missing_spec_field{357};
inline constexpr Code move_bad{358};
inline constexpr Code too_long{359};
inline constexpr Code invalid_char{360};
inline constexpr Code bad_loop_series{361};
inline constexpr Code wrong_denom{362};
inline constexpr Code bad_denom{363};
inline constexpr Code invalid_obj_evt{364};
inline constexpr Code parse_rule{365};
inline constexpr Code parse_end{366};
inline constexpr Code parse_invalid_ref{367};
inline constexpr Code parse_block{368};
inline constexpr Code parse_unsupported{369};
inline constexpr Code parse_infinite{370};
inline constexpr Code parse_stack{371};
inline constexpr Code parse_keep{372};
inline constexpr Code parse_into_bad{373};
inline constexpr Code parse_into_type{374};
inline constexpr Code draw_invalid{375};
inline constexpr Code draw_infinite{376};
inline constexpr Code invalid_data_facet{377};
inline constexpr Code face_type{378};
inline constexpr Code not_window{379};
inline constexpr Code bad_window{380};
inline constexpr Code not_linked{381};
inline constexpr Code not_event_type{382};
inline constexpr Code invalid_facet_type{383};
inline constexpr Code vid_invalid_syntax{384};
inline constexpr Code rtd_invalid_syntax{385};
inline constexpr Code rtd_no_match{386};
inline constexpr Code react_bad_func{387};
inline constexpr Code react_not_enough{388};
inline constexpr Code react_no_match{389};
inline constexpr Code react_bad_obj{390};
inline constexpr Code react_gctx{391};
inline constexpr Code lib_invalid_arg{392};
inline constexpr Code kb_invalid_record{393};
}  // namespace script

namespace math {
inline constexpr Code zero_divide{400};
inline constexpr Code overflow{401};
inline constexpr Code positive{402};
}  // namespace math

namespace access {
inline constexpr Code cannot_open{500};
inline constexpr Code cannot_close{501};
inline constexpr Code invalid_utf8{502};
inline constexpr Code not_open{503};
inline constexpr Code no_connect{504};
inline constexpr Code no_scheme{505};
inline constexpr Code unknown_scheme{506};
inline constexpr Code invalid_spec{507};
inline constexpr Code invalid_port{508};
inline constexpr Code invalid_actor{509};
inline constexpr Code no_port_action{510};
inline constexpr Code no_create{511};
inline constexpr Code no_codec{512};
inline constexpr Code bad_media{513};
inline constexpr Code invalid_cmd{514};
}  // namespace access

namespace user {
inline constexpr Code message{800};
}  // namespace user

namespace internal {
inline constexpr Code bad_path{900};
inline constexpr Code not_here{901};
inline constexpr Code no_memory{902};
inline constexpr Code wrong_mem{903};
inline constexpr Code stack_overflow{904};
inline constexpr Code limit_hit{905};
inline constexpr Code too_deep{906};
inline constexpr Code no_cycle{907};
inline constexpr Code feature_na{908};
inline constexpr Code not_done{909};
inline constexpr Code invalid_error{910};
inline constexpr Code routines{911};
inline constexpr Code kiv_system{912};
inline constexpr Code deprecated{913};
}  // namespace internal


// The catalogue words of each id, by code.
struct CatalogueWords {
  Code code;
  const char* category;
  const char* id;
};

inline constexpr CatalogueWords catalogue_words[] = {
    {throw_::break_, "throw", "break"},
    {throw_::return_, "throw", "return"},
    {throw_::throw_, "throw", "throw"},
    {throw_::continue_, "throw", "continue"},
    {throw_::while_cond, "throw", "while-cond"},
    {note::no_load, "note", "no-load"},
    {syntax::invalid, "syntax", "invalid"},
    {syntax::missing, "syntax", "missing"},
    {syntax::no_header, "syntax", "no-header"},
    {syntax::no_ks_header, "syntax", "no-ks-header"},
    {syntax::bad_header, "syntax", "bad-header"},
    {syntax::malconstruct, "syntax", "malconstruct"},
    {syntax::bad_char, "syntax", "bad-char"},
    {script::no_value, "script", "no-value"},
    {script::need_value, "script", "need-value"},
    {script::not_defined, "script", "not-defined"},
    {script::not_in_context, "script", "not-in-context"},
    {script::no_arg, "script", "no-arg"},
    {script::expect_arg, "script", "expect-arg"},
    {script::expect_val, "script", "expect-val"},
    {script::expect_type, "script", "expect-type"},
    {script::cannot_use, "script", "cannot-use"},
    {script::invalid_arg, "script", "invalid-arg"},
    {script::invalid_type, "script", "invalid-type"},
    {script::invalid_type_spec, "script", "invalid-type-spec"},
    {script::invalid_key_type, "script", "invalid-key-type"},
    {script::invalid_op, "script", "invalid-op"},
    {script::no_op_arg, "script", "no-op-arg"},
    {script::bad_op_spec, "script", "bad-op-spec"},
    {script::invalid_data, "script", "invalid-data"},
    {script::invalid_part, "script", "invalid-part"},
    {script::not_same_type, "script", "not-same-type"},
    {script::not_same_class, "script", "not-same-class"},
    {script::not_related, "script", "not-related"},
    {script::bad_func_def, "script", "bad-func-def"},
    {script::bad_func_arg, "script", "bad-func-arg"},
    {script::bad_func_extern, "script", "bad-func-extern"},
    {script::no_refine, "script", "no-refine"},
    {script::bad_refines, "script", "bad-refines"},
    {script::bad_refine, "script", "bad-refine"},
    {script::dup_refine, "script", "dup-refine"},
    {script::word_first, "script", "word-first"},
    {script::empty_path, "script", "empty-path"},
    {script::unset_path, "script", "unset-path"},
    {script::invalid_path, "script", "invalid-path"},
    {script::invalid_path_set, "script", "invalid-path-set"},
    {script::invalid_path_get, "script", "invalid-path-get"},
    {script::bad_path_type, "script", "bad-path-type"},
    {script::bad_path_type2, "script", "bad-path-type2"},
    {script::bad_path_set, "script", "bad-path-set"},
    {script::bad_field_set, "script", "bad-field-set"},
    {script::dup_vars, "script", "dup-vars"},
    {script::past_end, "script", "past-end"},
    {script::missing_arg, "script", "missing-arg"},
    {script::out_of_range, "script", "out-of-range"},
    {script::invalid_chars, "script", "invalid-chars"},
    {script::invalid_compare, "script", "invalid-compare"},
    {script::wrong_type, "script", "wrong-type"},
    {script::invalid_refine_arg, "script", "invalid-refine-arg"},
    {script::type_limit, "script", "type-limit"},
    {script::size_limit, "script", "size-limit"},
    {script::no_return, "script", "no-return"},
    {script::throw_usage, "script", "throw-usage"},
    {script::locked_word, "script", "locked-word"},
    {script::protected_, "script", "protected"},
    {script::bad_bad, "script", "bad-bad"},
    {script::bad_make_arg, "script", "bad-make-arg"},
    {script::bad_to_arg, "script", "bad-to-arg"},
    {script::invalid_months, "script", "invalid-months"},
    {script::invalid_spec_field, "script", "invalid-spec-field"},
    {script::missing_spec_field, "script", "missing-spec-field"},
    {script::move_bad, "script", "move-bad"},
    {script::too_long, "script", "too-long"},
    {script::invalid_char, "script", "invalid-char"},
    {script::bad_loop_series, "script", "bad-loop-series"},
    {script::wrong_denom, "script", "wrong-denom"},
    {script::bad_denom, "script", "bad-denom"},
    {script::invalid_obj_evt, "script", "invalid-obj-evt"},
    {script::parse_rule, "script", "parse-rule"},
    {script::parse_end, "script", "parse-end"},
    {script::parse_invalid_ref, "script", "parse-invalid-ref"},
    {script::parse_block, "script", "parse-block"},
    {script::parse_unsupported, "script", "parse-unsupported"},
    {script::parse_infinite, "script", "parse-infinite"},
    {script::parse_stack, "script", "parse-stack"},
    {script::parse_keep, "script", "parse-keep"},
    {script::parse_into_bad, "script", "parse-into-bad"},
    {script::parse_into_type, "script", "parse-into-type"},
    {script::draw_invalid, "script", "draw-invalid"},
    {script::draw_infinite, "script", "draw-infinite"},
    {script::invalid_data_facet, "script", "invalid-data-facet"},
    {script::face_type, "script", "face-type"},
    {script::not_window, "script", "not-window"},
    {script::bad_window, "script", "bad-window"},
    {script::not_linked, "script", "not-linked"},
    {script::not_event_type, "script", "not-event-type"},
    {script::invalid_facet_type, "script", "invalid-facet-type"},
    {script::vid_invalid_syntax, "script", "vid-invalid-syntax"},
    {script::rtd_invalid_syntax, "script", "rtd-invalid-syntax"},
    {script::rtd_no_match, "script", "rtd-no-match"},
    {script::react_bad_func, "script", "react-bad-func"},
    {script::react_not_enough, "script", "react-not-enough"},
    {script::react_no_match, "script", "react-no-match"},
    {script::react_bad_obj, "script", "react-bad-obj"},
    {script::react_gctx, "script", "react-gctx"},
    {script::lib_invalid_arg, "script", "lib-invalid-arg"},
    {script::kb_invalid_record, "script", "kb-invalid-record"},
    {math::zero_divide, "math", "zero-divide"},
    {math::overflow, "math", "overflow"},
    {math::positive, "math", "positive"},
    {access::cannot_open, "access", "cannot-open"},
    {access::cannot_close, "access", "cannot-close"},
    {access::invalid_utf8, "access", "invalid-utf8"},
    {access::not_open, "access", "not-open"},
    {access::no_connect, "access", "no-connect"},
    {access::no_scheme, "access", "no-scheme"},
    {access::unknown_scheme, "access", "unknown-scheme"},
    {access::invalid_spec, "access", "invalid-spec"},
    {access::invalid_port, "access", "invalid-port"},
    {access::invalid_actor, "access", "invalid-actor"},
    {access::no_port_action, "access", "no-port-action"},
    {access::no_create, "access", "no-create"},
    {access::no_codec, "access", "no-codec"},
    {access::bad_media, "access", "bad-media"},
    {access::invalid_cmd, "access", "invalid-cmd"},
    {user::message, "user", "message"},
    {internal::bad_path, "internal", "bad-path"},
    {internal::not_here, "internal", "not-here"},
    {internal::no_memory, "internal", "no-memory"},
    {internal::wrong_mem, "internal", "wrong-mem"},
    {internal::stack_overflow, "internal", "stack-overflow"},
    {internal::limit_hit, "internal", "limit-hit"},
    {internal::too_deep, "internal", "too-deep"},
    {internal::no_cycle, "internal", "no-cycle"},
    {internal::feature_na, "internal", "feature-na"},
    {internal::not_done, "internal", "not-done"},
    {internal::invalid_error, "internal", "invalid-error"},
    {internal::routines, "internal", "routines"},
    {internal::kiv_system, "internal", "kiv-system"},
    {internal::deprecated, "internal", "deprecated"},
};

// Words of the categories, by position.
inline constexpr const char* category_words[] = {
    "throw", "note", "syntax", "script", "math", "access", "reserved1", "reserved2", "user", "internal",
};

// Titles of the categories, by position.
inline constexpr const char* category_titles[] = {
    "Throw Error", "note", "Syntax Error", "Script Error", "Math Error", "Access Error",
    "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error",
};
inline constexpr int category_count = 10;

// The table holds every position of each category from 0 up, in order, so
// a category's ids are its entries and no constant can hide between two.
constexpr bool catalogue_words_in_order() {
  int category = 0;
  int next = 0;
  for (const CatalogueWords& entry : catalogue_words) {
    const int entry_category = entry.code.value / 100;
    if (entry_category < category || entry_category >= category_count) return false;
    if (entry_category > category) {
      category = entry_category;
      next = 0;
    }
    if (entry.code.position() != next++) return false;
  }
  return true;
}
static_assert(catalogue_words_in_order());
static_assert(sizeof category_titles / sizeof category_titles[0] == category_count);
static_assert(sizeof category_words / sizeof category_words[0] == category_count);

}  // namespace kiv::err
