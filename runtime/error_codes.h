// Error codes of the catalogue `system/catalog/errors`.
//
// An error's code is 100 x its category's position plus the id's position
// within the category, counted from 0. The ids below follow the
// catalogue's order exactly: a change to one is a change to both.
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
inline constexpr struct {
  uint16_t code;
  const char* category;
  const char* id;
} catalogue_words[] = {
    {0, "throw", "break"},
    {1, "throw", "return"},
    {2, "throw", "throw"},
    {3, "throw", "continue"},
    {4, "throw", "while-cond"},
    {100, "note", "no-load"},
    {200, "syntax", "invalid"},
    {201, "syntax", "missing"},
    {202, "syntax", "no-header"},
    {203, "syntax", "no-ks-header"},
    {204, "syntax", "bad-header"},
    {205, "syntax", "malconstruct"},
    {206, "syntax", "bad-char"},
    {300, "script", "no-value"},
    {301, "script", "need-value"},
    {302, "script", "not-defined"},
    {303, "script", "not-in-context"},
    {304, "script", "no-arg"},
    {305, "script", "expect-arg"},
    {306, "script", "expect-val"},
    {307, "script", "expect-type"},
    {308, "script", "cannot-use"},
    {309, "script", "invalid-arg"},
    {310, "script", "invalid-type"},
    {311, "script", "invalid-type-spec"},
    {312, "script", "invalid-key-type"},
    {313, "script", "invalid-op"},
    {314, "script", "no-op-arg"},
    {315, "script", "bad-op-spec"},
    {316, "script", "invalid-data"},
    {317, "script", "invalid-part"},
    {318, "script", "not-same-type"},
    {319, "script", "not-same-class"},
    {320, "script", "not-related"},
    {321, "script", "bad-func-def"},
    {322, "script", "bad-func-arg"},
    {323, "script", "bad-func-extern"},
    {324, "script", "no-refine"},
    {325, "script", "bad-refines"},
    {326, "script", "bad-refine"},
    {327, "script", "dup-refine"},
    {328, "script", "word-first"},
    {329, "script", "empty-path"},
    {330, "script", "unset-path"},
    {331, "script", "invalid-path"},
    {332, "script", "invalid-path-set"},
    {333, "script", "invalid-path-get"},
    {334, "script", "bad-path-type"},
    {335, "script", "bad-path-type2"},
    {336, "script", "bad-path-set"},
    {337, "script", "bad-field-set"},
    {338, "script", "dup-vars"},
    {339, "script", "past-end"},
    {340, "script", "missing-arg"},
    {341, "script", "out-of-range"},
    {342, "script", "invalid-chars"},
    {343, "script", "invalid-compare"},
    {344, "script", "wrong-type"},
    {345, "script", "invalid-refine-arg"},
    {346, "script", "type-limit"},
    {347, "script", "size-limit"},
    {348, "script", "no-return"},
    {349, "script", "throw-usage"},
    {350, "script", "locked-word"},
    {351, "script", "protected"},
    {352, "script", "bad-bad"},
    {353, "script", "bad-make-arg"},
    {354, "script", "bad-to-arg"},
    {355, "script", "invalid-months"},
    {356, "script", "invalid-spec-field"},
    {357, "script", "missing-spec-field"},
    {358, "script", "move-bad"},
    {359, "script", "too-long"},
    {360, "script", "invalid-char"},
    {361, "script", "bad-loop-series"},
    {362, "script", "wrong-denom"},
    {363, "script", "bad-denom"},
    {364, "script", "invalid-obj-evt"},
    {365, "script", "parse-rule"},
    {366, "script", "parse-end"},
    {367, "script", "parse-invalid-ref"},
    {368, "script", "parse-block"},
    {369, "script", "parse-unsupported"},
    {370, "script", "parse-infinite"},
    {371, "script", "parse-stack"},
    {372, "script", "parse-keep"},
    {373, "script", "parse-into-bad"},
    {374, "script", "parse-into-type"},
    {375, "script", "draw-invalid"},
    {376, "script", "draw-infinite"},
    {377, "script", "invalid-data-facet"},
    {378, "script", "face-type"},
    {379, "script", "not-window"},
    {380, "script", "bad-window"},
    {381, "script", "not-linked"},
    {382, "script", "not-event-type"},
    {383, "script", "invalid-facet-type"},
    {384, "script", "vid-invalid-syntax"},
    {385, "script", "rtd-invalid-syntax"},
    {386, "script", "rtd-no-match"},
    {387, "script", "react-bad-func"},
    {388, "script", "react-not-enough"},
    {389, "script", "react-no-match"},
    {390, "script", "react-bad-obj"},
    {391, "script", "react-gctx"},
    {392, "script", "lib-invalid-arg"},
    {393, "script", "kb-invalid-record"},
    {400, "math", "zero-divide"},
    {401, "math", "overflow"},
    {402, "math", "positive"},
    {500, "access", "cannot-open"},
    {501, "access", "cannot-close"},
    {502, "access", "invalid-utf8"},
    {503, "access", "not-open"},
    {504, "access", "no-connect"},
    {505, "access", "no-scheme"},
    {506, "access", "unknown-scheme"},
    {507, "access", "invalid-spec"},
    {508, "access", "invalid-port"},
    {509, "access", "invalid-actor"},
    {510, "access", "no-port-action"},
    {511, "access", "no-create"},
    {512, "access", "no-codec"},
    {513, "access", "bad-media"},
    {514, "access", "invalid-cmd"},
    {800, "user", "message"},
    {900, "internal", "bad-path"},
    {901, "internal", "not-here"},
    {902, "internal", "no-memory"},
    {903, "internal", "wrong-mem"},
    {904, "internal", "stack-overflow"},
    {905, "internal", "limit-hit"},
    {906, "internal", "too-deep"},
    {907, "internal", "no-cycle"},
    {908, "internal", "feature-na"},
    {909, "internal", "not-done"},
    {910, "internal", "invalid-error"},
    {911, "internal", "routines"},
    {912, "internal", "kiv-system"},
    {913, "internal", "deprecated"},
};

// Titles of the categories, by position.
inline constexpr const char* category_titles[] = {
    "Throw Error", "note", "Syntax Error", "Script Error", "Math Error", "Access Error",
    "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error",
};

}  // namespace kiv::err
