// The datatype registry, and logic!, none!, unset! from C++: inheritance of
// action slots, the budgets of form and mold, the compare modes scripts do
// not name, truth tests and typeset checks. What scripts reach is in
// tests/kiv/datatypes/logic.kiv and datatype.kiv.
#include "runtime/datatypes/datatype.h"

#include "runtime/check.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;
using testing::raised_error;

class Registry : public testing::RuntimeTest {};

int parent_form(Val, Val, int32_t part) { return part - 1; }
int32_t child_form(Val, Val, int32_t part) { return part - 2; }
void parent_clear(Val) {}

TEST_F(Registry, InheritanceIsSettledAtRegistration) {
  datatype::reset_registry();
  // A root type with a few slots, then children in the usual order.
  datatype::register_type({TypeId::series, TypeId::none_type, "series!",
                           {.form = parent_form, .clear = parent_clear, .take = inherit}});
  datatype::register_type({TypeId::block, TypeId::series, "block!",
                           {.form = inherit, .append = inherit, .clear = inherit}});
  datatype::register_type({TypeId::paren, TypeId::block, "paren!", {.form = child_form, .clear = inherit}});

  const ActionTable& series = datatype::actions(TypeId::series);
  const ActionTable& block = datatype::actions(TypeId::block);
  const ActionTable& paren = datatype::actions(TypeId::paren);
  EXPECT_EQ(series.take, nullptr) << "a root type has nothing to inherit";
  EXPECT_EQ(block.form, series.form);
  EXPECT_EQ(block.clear, &parent_clear);
  EXPECT_EQ(block.append, nullptr) << "inheriting an empty slot leaves it empty";
  EXPECT_EQ(block.mold, nullptr) << "not named: unsupported";
  EXPECT_EQ(paren.form, &child_form) << "an own function wins";
  EXPECT_EQ(paren.clear, &parent_clear) << "inherited through two levels";
  EXPECT_EQ(datatype::highest(), TypeId::series);
  EXPECT_EQ(datatype::info(TypeId::paren).parent, TypeId::block);
}

TEST_F(Registry, NamesAndLengths) {
  EXPECT_EQ(datatype::info(TypeId::datatype).name, "datatype!");
  EXPECT_EQ(datatype::info(TypeId::datatype).name_length, 8u);
  EXPECT_EQ(datatype::info(TypeId::logic).name_length, 5u);
  EXPECT_FALSE(datatype::is_registered(TypeId::event));
}

TEST_F(Registry, DatatypeFormAndMoldBudgets) {
  const Cell logic_type = datatype::make(TypeId::logic);
  EXPECT_EQ(form_of(logic_type, 10).budget, 5);
  const auto all = mold_of(logic_type, {.all = true}, 10);
  EXPECT_EQ(all.text, "#(logic!)");
  EXPECT_EQ(all.budget, 1);
}

class Logic : public testing::RuntimeTest {};

TEST_F(Logic, FormAndMoldTexts) {
  struct Case {
    Cell value;
    const char* formed;
    const char* molded;
    const char* molded_all;
  };
  const Case cases[] = {
      {unset::make(), "", "unset", "#(unset)"},
      {none::make(), "none", "none", "#(none)"},
      {logic::make(true), "true", "true", "#(true)"},
      {logic::make(false), "false", "false", "#(false)"},
  };
  for (const Case& c : cases) {
    const auto formed = form_of(c.value, 100);
    EXPECT_EQ(formed.text, c.formed);
    EXPECT_EQ(formed.budget, 100 - static_cast<int32_t>(formed.text.size()));
    EXPECT_EQ(mold_of(c.value).text, c.molded);
    const auto all = mold_of(c.value, {.all = true}, 3);
    EXPECT_EQ(all.text, c.molded_all);
    EXPECT_EQ(all.budget, 3 - static_cast<int32_t>(all.text.size())) << "the budget may go negative";
  }
}

TEST_F(Logic, CompareModesScriptsDoNotName) {
  const Cell yes = logic::make(true);
  const Cell no = logic::make(false);
  const auto logic_compare = datatype::actions(TypeId::logic).compare;
  EXPECT_LT(logic_compare(no, yes, CmpOp::sort), 0) << "false sorts before true";
  EXPECT_EQ(logic_compare(yes, integer::make(1), CmpOp::equal), -2) << "no comparison, not merely unequal";

  for (TypeId type : {TypeId::unset, TypeId::none}) {
    const Cell value = testing::bare(type);
    const auto compare = datatype::actions(type).compare;
    for (CmpOp op : {CmpOp::sort, CmpOp::case_sort, CmpOp::lookup}) EXPECT_EQ(compare(value, value, op), 0);
    EXPECT_EQ(compare(value, yes, CmpOp::equal), -2);
  }
}

TEST_F(Logic, Truth) {
  const Cell two{cell::header(TypeId::logic), 2, 0, 0};
  EXPECT_FALSE(logic::is_true(two)) << "only 1 is true";
  EXPECT_FALSE(logic::is_true(none::make()));
  EXPECT_TRUE(logic::is_true(integer::make(0)));
  const Cell word = datatype::make(TypeId::word);  // stands in for the word being read
  EXPECT_EQ(raised_error([&] { logic::value_true(unset::make(), true, word); }), error_id::script::no_value.value);
  EXPECT_TRUE(logic::value_true(unset::make(), false, word));
  EXPECT_EQ(raised_error([&] { logic::arg_true(unset::make()); }), error_id::script::no_return.value);
}

TEST_F(Logic, NoneHasTheSeriesActionsThatAnswerNone) {
  const ActionTable& actions = datatype::actions(TypeId::none);
  Val series = stack::push(none::make());
  EXPECT_EQ(actions.length_q(series), -1);
  EXPECT_NE(actions.take, nullptr);
  EXPECT_EQ(actions.append, nullptr);
}

TEST_F(Logic, TypesetChecks) {
  Cell set{cell::header(TypeId::typeset), 0, 0, 0};
  typeset::add(set, TypeId::none_type);
  EXPECT_EQ(set.w1, 0x80u) << "type 0 is the top bit of the first byte";
  typeset::add(set, TypeId::logic);
  typeset::add(set, TypeId::event);
  EXPECT_TRUE(typeset::has(set, TypeId::logic));
  EXPECT_TRUE(typeset::has(set, TypeId::event));
  EXPECT_FALSE(typeset::has(set, TypeId::none));
  EXPECT_NO_THROW(check::arg_type(set, logic::make(true), 0));
  EXPECT_EQ(raised_error([&] { check::arg_type(set, none::make(), 0); }), error_id::script::expect_arg.value);
}

}  // namespace
}  // namespace kiv
