#include "runtime/datatypes/datatype.h"

#include <cmath>

#include "runtime/check.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::mold_of;
using testing::form_of;
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

TEST_F(Registry, DatatypeFormMoldCompare) {
  const Cell logic_type = datatype::make(TypeId::logic);
  EXPECT_EQ(form_of(logic_type).text, "logic");
  EXPECT_EQ(form_of(logic_type, 10).budget, 5);
  EXPECT_EQ(mold_of(logic_type).text, "logic!");
  const auto all = mold_of(logic_type, {.all = true}, 10);
  EXPECT_EQ(all.text, "#(logic!)");
  EXPECT_EQ(all.budget, 1);

  const auto compare = datatype::actions(TypeId::datatype).compare;
  const Cell none_type = datatype::make(TypeId::none);
  const Cell no = logic::make(false);
  EXPECT_EQ(compare(logic_type, logic_type, CmpOp::equal), 0);
  EXPECT_EQ(compare(logic_type, none_type, CmpOp::equal), 1);
  EXPECT_EQ(compare(logic_type, no, CmpOp::strict_equal), 1) << "another type is simply not equal";
  EXPECT_EQ(compare(logic_type, none_type, CmpOp::lesser), -2) << "datatypes have no order";
}

class Logic : public testing::RuntimeTest {};

Cell integer(int32_t value) { return Cell{cell::header(TypeId::integer), 0, static_cast<uint32_t>(value), 0}; }
Cell number(TypeId type, double value) {
  Cell cell{cell::header(type), 0, 0, 0};
  cell::set_double(cell, value);
  return cell;
}

TEST_F(Logic, MakeAndTo) {
  struct Case {
    Cell spec;
    bool made;
    bool converted;
  };
  const Case cases[] = {
      {integer(0), false, true},
      {integer(-7), true, true},
      {number(TypeId::float_, 0.0), false, true},
      {number(TypeId::float_, -0.0), false, true},
      {number(TypeId::float_, std::nan("")), true, true},
      {number(TypeId::percent, 0.0), false, true},
      {number(TypeId::float_, 0.5), true, true},
      {none::make(), false, false},
      {logic::make(false), false, false},
      {logic::make(true), true, true},
      {unset::make(), true, true},
  };
  const ActionTable& actions = datatype::actions(TypeId::logic);
  for (const Case& c : cases) {
    Val made = stack::push(datatype::make(TypeId::logic));
    actions.make(made, stack::push(c.spec), TypeId::logic);
    Val converted = stack::push(datatype::make(TypeId::logic));
    actions.to(converted, stack::push(c.spec), TypeId::logic);
    EXPECT_TRUE(cell::is(*made, TypeId::logic));
    EXPECT_EQ(logic::get(*made), c.made) << c.spec.header;
    EXPECT_EQ(logic::get(*converted), c.converted) << c.spec.header;
  }
}

TEST_F(Logic, UnsetAndNoneMakeThemselves) {
  Val result = stack::push(datatype::make(TypeId::none));
  datatype::actions(TypeId::none).make(result, stack::push(integer(3)), TypeId::none);
  EXPECT_TRUE(cell::is(*result, TypeId::none));
  datatype::actions(TypeId::unset).to(result, stack::push(integer(3)), TypeId::unset);
  EXPECT_TRUE(cell::is(*result, TypeId::unset));
}

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

TEST_F(Logic, Comparisons) {
  const Cell yes = logic::make(true);
  const Cell no = logic::make(false);
  const auto logic_compare = datatype::actions(TypeId::logic).compare;
  EXPECT_EQ(logic_compare(yes, yes, CmpOp::equal), 0);
  EXPECT_NE(logic_compare(yes, no, CmpOp::equal), 0);
  EXPECT_LT(logic_compare(no, yes, CmpOp::sort), 0) << "false sorts before true";
  EXPECT_EQ(logic_compare(yes, no, CmpOp::lesser), -2) << "no order between truths";
  EXPECT_EQ(logic_compare(yes, integer(1), CmpOp::equal), -2);

  for (TypeId type : {TypeId::unset, TypeId::none}) {
    const Cell value{cell::header(type), 0, 0, 0};
    const auto compare = datatype::actions(type).compare;
    for (CmpOp op : {CmpOp::equal, CmpOp::not_equal, CmpOp::strict_equal, CmpOp::sort, CmpOp::case_sort,
                     CmpOp::same, CmpOp::lookup})
      EXPECT_EQ(compare(value, value, op), 0);
    EXPECT_EQ(compare(value, value, CmpOp::greater), -2);
    EXPECT_EQ(compare(value, yes, CmpOp::equal), -2);
  }
}

TEST_F(Logic, BitwiseOperations) {
  const ActionTable& actions = datatype::actions(TypeId::logic);
  struct Case {
    action::BinaryFn op;
    bool a, b, expected;
  };
  const Case cases[] = {
      {actions.and_, true, true, true}, {actions.and_, true, false, false}, {actions.or_, false, true, true},
      {actions.or_, false, false, false}, {actions.xor_, true, true, false}, {actions.xor_, true, false, true},
  };
  for (const Case& c : cases) {
    Val left = logic::push(c.a);
    c.op(left, logic::push(c.b));
    EXPECT_EQ(logic::get(*left), c.expected);
  }
  Val value = logic::push(true);
  actions.complement(value);
  EXPECT_FALSE(logic::get(*value));

  const uint16_t code = raised_error([&] { actions.and_(logic::push(true), stack::push(integer(1))); });
  EXPECT_EQ(code, err::script::expect_arg.value);
  EXPECT_EQ(datatype::get(error::pending().args[1]), TypeId::integer) << "names the offending type";
}

TEST_F(Logic, RandomAndSeed) {
  const ActionTable& actions = datatype::actions(TypeId::logic);
  auto draws = [&] {
    Val seed = logic::push(true);
    actions.random(seed, true, false, false);
    EXPECT_TRUE(cell::is(*seed, TypeId::unset)) << "seeding answers unset";
    std::string seen;
    for (int i = 0; i < 64; ++i) {
      Val value = logic::push(true);
      actions.random(value, false, false, false);
      seen += logic::get(*value) ? '1' : '0';
    }
    return seen;
  };
  const std::string first = draws();
  EXPECT_EQ(draws(), first) << "the same seed repeats the same draws";
  EXPECT_NE(first.find('0'), std::string::npos);
  EXPECT_NE(first.find('1'), std::string::npos);
}

TEST_F(Logic, Truth) {
  const Cell two{cell::header(TypeId::logic), 2, 0, 0};
  EXPECT_FALSE(logic::is_true(two)) << "only 1 is true";
  EXPECT_FALSE(logic::is_true(none::make()));
  EXPECT_TRUE(logic::is_true(integer(0)));
  const Cell word = datatype::make(TypeId::word);  // stands in for the word being read
  EXPECT_EQ(raised_error([&] { logic::value_true(unset::make(), true, word); }), err::script::no_value.value);
  EXPECT_TRUE(logic::value_true(unset::make(), false, word));
  EXPECT_EQ(raised_error([&] { logic::arg_true(unset::make()); }), err::script::no_return.value);
}

TEST_F(Logic, NoneAnswersNoneToSeriesActions) {
  const ActionTable& actions = datatype::actions(TypeId::none);
  Val series = stack::push(none::make());
  actions.find(series, stack::push(integer(1)), {});
  EXPECT_TRUE(cell::is(*series, TypeId::none));
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
  EXPECT_EQ(raised_error([&] { check::arg_type(set, none::make(), 0); }), err::script::expect_arg.value);
}

}  // namespace
}  // namespace kiv
