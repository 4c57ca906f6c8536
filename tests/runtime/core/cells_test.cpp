// Cells, the cycle stack, the argument stack, the value slot table and the
// rules that keep values rooted.
#include <gtest/gtest.h>

#include <type_traits>

#include "runtime/core/cell.h"
#include "runtime/core/cycle.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/runtime_error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/slot_table.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::raised_error;

// An allocating function cannot be handed a pointer into a series buffer:
// only argument-stack slots and rooted cells convert to `Val`.
static_assert(!std::is_constructible_v<Val, Cell*>);
static_assert(!std::is_convertible_v<Cell*, Val>);
static_assert(!std::is_constructible_v<Val, Cell&>);
static_assert(!std::is_invocable_v<decltype(&string::append_latin1), Cell*, std::string_view>);
static_assert(!std::is_invocable_v<decltype(&slot_table::store), Cell*>);
static_assert(std::is_invocable_v<decltype(&slot_table::store), Val>);

TEST(Cells, TypeChangesKeepTheNewLineMarker) {
  Cell value{cell::header(TypeId::word) | cell::new_line_flag | 0x1000, 1, 2, 3};
  cell::set_type(value, TypeId::set_word);
  EXPECT_EQ(cell::type_of(value), TypeId::set_word);
  EXPECT_TRUE(cell::has_new_line(value));
  EXPECT_EQ(value.header & 0x1000, 0x1000u);
  cell::clear_new_line(value);
  EXPECT_FALSE(cell::has_new_line(value));

  Cell copy = value;
  cell::copy(value, value);  // onto itself: unchanged
  EXPECT_EQ(std::memcmp(&copy, &value, sizeof(Cell)), 0);
}

TEST(Cells, DoublesAreStoredLowWordFirst) {
  Cell value{cell::header(TypeId::float_), 0, 0, 0};
  cell::set_double(value, 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(value.w2, 0u);
  EXPECT_EQ(value.w3, 0x3FF00000u);
  EXPECT_EQ(cell::get_double(value), 1.0);
}

class CycleStack : public testing::RuntimeTest {};

TEST_F(CycleStack, NineHundredNinetyNineLevelsPassTheThousandthRaises) {
  for (NodeId node = 1; node < cycle::capacity; ++node) cycle::push(node);
  EXPECT_EQ(cycle::depth(), 999u);
  EXPECT_TRUE(cycle::find(500));
  EXPECT_EQ(raised_error([] { cycle::push(1000); }), error_id::internal::too_deep.value);
  EXPECT_EQ(cycle::depth(), 0u) << "the stack is emptied so the error itself can be molded";
}

TEST_F(CycleStack, GuardDropsWhatAnInterruptedWalkPushed) {
  cycle::push(7);
  raised_error([] {
    cycle::Guard guard;
    cycle::push(8);
    cycle::push(9);
    error::raise(error_id::script::invalid_arg);
  });
  EXPECT_EQ(cycle::depth(), 1u);
  EXPECT_FALSE(cycle::find(8));
  cycle::drop(5);
  EXPECT_EQ(cycle::depth(), 0u);
  cycle::pop();  // on an empty stack: nothing
  EXPECT_EQ(cycle::depth(), 0u);
}

TEST(CycleStackTexts, Elisions) {
  struct Case {
    TypeId type;
    const char* molded;
  };
  const Case cases[] = {{TypeId::block, "[...]"}, {TypeId::hash, "[...]"},       {TypeId::paren, "(...)"},
                        {TypeId::map, "#[...]"},  {TypeId::object, "make object! [...]"}, {TypeId::path, "..."}};
  for (const Case& c : cases) {
    EXPECT_EQ(cycle::elision(c.type, true), c.molded);
    EXPECT_EQ(cycle::elision(c.type, false), "...");
  }
}

class ArgumentStack : public testing::RuntimeTest {};

TEST_F(ArgumentStack, PushPopAndWindow) {
  stack::push(logic::make(true));
  Val second = stack::push(none::make());
  EXPECT_EQ(stack::depth(), 2u);
  EXPECT_EQ(stack::last().get(), second.get());
  stack::set_last(logic::make(false));
  EXPECT_TRUE(cell::is(*stack::result(), TypeId::logic));
  stack::pop(10);  // never below the bottom
  EXPECT_EQ(stack::depth(), 0u);
}

TEST_F(ArgumentStack, OverflowRaisesAndLeavesRoom) {
  const uint16_t code = raised_error([] {
    for (uint32_t i = 0; i < stack::argument_cells + 1; ++i) stack::push_slot();
  });
  EXPECT_EQ(code, error_id::internal::stack_overflow.value);
  EXPECT_EQ(stack::depth(), stack::argument_cells - 5) << "five cells of room for the error handling";
}

class SlotTable : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    slot_table::init();
  }
};

TEST_F(SlotTable, StoresGrowAndReuse) {
  Val value = stack::push(logic::make(true));
  EXPECT_EQ(slot_table::store(value), 1u);
  for (uint32_t i = 2; i <= 100; ++i) EXPECT_EQ(slot_table::store(value), i);
  EXPECT_EQ(slot_table::capacity(), 100u);
  EXPECT_EQ(slot_table::store(value), 101u);
  EXPECT_EQ(slot_table::capacity(), 200u);
  EXPECT_TRUE(cell::is(*slot_table::get(37), TypeId::logic)) << "stored values survive growth";

  slot_table::free(37);
  slot_table::free(5);
  EXPECT_EQ(slot_table::store(stack::push(none::make())), 5u) << "last freed, first reused";
  EXPECT_TRUE(cell::is(*slot_table::get(5), TypeId::none));
  EXPECT_EQ(slot_table::store(value), 37u);
  slot_table::free(0);  // nothing
  EXPECT_EQ(slot_table::store(value), 102u);
}

TEST_F(SlotTable, FreeSlotsAreIntegersWithoutFlags) {
  Val marked = stack::push(Cell{cell::header(TypeId::logic) | cell::new_line_flag, 1, 0, 0});
  const uint32_t slot = slot_table::store(marked);
  slot_table::free(slot);
  EXPECT_EQ(slot_table::get(slot)->header, cell::header(TypeId::integer));
}

class Roots : public testing::RuntimeTest {};

TEST_F(Roots, RootedValuesChainInOrder) {
  const roots::RootLink* before = roots::newest();
  {
    Rooted<Cell> first(logic::make(true));
    Rooted<NodeId> second(42);
    ASSERT_EQ(roots::newest()->kind, roots::RootKind::node);
    EXPECT_EQ(*static_cast<NodeId*>(roots::newest()->target), 42u);
    EXPECT_EQ(roots::newest()->prev->target, first.val().get());
  }
  EXPECT_EQ(roots::newest(), before);
}

#ifdef KIV_DEBUG_CHECKS
TEST(RootsDeath, AllocationInsideNoGcScopeIsAnAssertion) {
  EXPECT_EXIT(
      {
        memory::init();
        memory::add_first_frames();
        NoGcScope no_gc;
        memory::new_byte_series(10);
      },
      ::testing::ExitedWithCode(runtime::error_assertion), "Runtime Error 98: assertion failed");
}
#endif

TEST(RootsDeath, RootsEndInReverseOrder) {
  EXPECT_EXIT(
      {
        auto* first = new Rooted<Cell>();
        Rooted<Cell> second;
        delete first;  // not the newest
      },
      ::testing::ExitedWithCode(runtime::error_assertion), "Runtime Error 98");
}

TEST(Random, ReferenceSequenceAndRanges) {
  random::mt_seed(5489);
  EXPECT_EQ(random::mt_next(), 3499211612u);
  EXPECT_EQ(random::mt_next(), 581869302u);
  EXPECT_EQ(random::mt_next(), 3890346734u);

  EXPECT_EQ(random::int_range(false, 0), 0);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(random::int_range(false, 1), 1);
    EXPECT_EQ(random::int_range(true, -1), -1);
    const int32_t up = random::int_range(false, 10);
    EXPECT_TRUE(up >= 1 && up <= 10) << up;
    const int32_t down = random::int_range(true, -10);
    EXPECT_TRUE(down >= -10 && down <= -1) << down;
    EXPECT_LE(random::int_range(false, INT32_MIN), -1);
    EXPECT_LT(random::next31(true), 0x80000000u);
  }
}

}  // namespace
}  // namespace kiv
