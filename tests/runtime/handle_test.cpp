// handle!: its text forms, its comparisons, and that it does nothing else.
// Scripts cannot make a handle themselves, so these tests make them here.
#include "runtime/datatypes/handle.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;

class Handle : public testing::RuntimeTest {
 protected:
  const ActionTable& actions() { return datatype::actions(TypeId::handle); }
};

TEST_F(Handle, FormAndMold) {
  struct Case {
    uint32_t value;
    handle::Kind kind;
    const char* formed;
    const char* molded_all;
  };
  const Case cases[] = {
      {0, handle::Kind::null, "00000000h", "#[handle! 00000000h]"},
      {0x1A2B4, handle::Kind::fd, "0001A2B4h", "#[handle! 0001A2B4h fd]"},
      {0xA0B2C, handle::Kind::window, "000A0B2Ch", "#[handle! 000A0B2Ch window]"},
      {0xFFFFFFFF, handle::Kind::rich_text, "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
      {7, static_cast<handle::Kind>(9), "00000007h", "#[handle! 00000007h]"},  // a kind with no name
  };
  for (const Case& c : cases) {
    const Cell value = handle::make(c.value, c.kind);
    EXPECT_EQ(form_of(value).text, c.formed);
    EXPECT_EQ(mold_of(value).text, "handle!");
    EXPECT_EQ(mold_of(value, {.all = true}).text, c.molded_all);
  }
  // The /part budget drops by the characters written.
  EXPECT_EQ(form_of(handle::make(1, handle::Kind::fd), 20).budget, 20 - 9);
  EXPECT_EQ(mold_of(handle::make(1, handle::Kind::fd), {.all = true}, 30).budget, 30 - 23);
}

TEST_F(Handle, CompareByValueNotKind) {
  const auto compare = actions().compare;
  const Cell window = handle::make(5, handle::Kind::window);
  const Cell font = handle::make(5, handle::Kind::font);
  EXPECT_EQ(compare(window, font, CmpOp::equal), 0);
  EXPECT_EQ(compare(window, font, CmpOp::strict_equal), 0);
  // Values compare as signed numbers.
  EXPECT_EQ(compare(handle::make(0xFFFFFFFF, handle::Kind::fd), handle::make(1, handle::Kind::fd), CmpOp::lesser), -1);
  EXPECT_EQ(compare(handle::make(3, handle::Kind::fd), handle::make(1, handle::Kind::fd), CmpOp::sort), 1);
  // An integer of the same value is another thing: unequal, and no order.
  EXPECT_EQ(compare(window, integer::make(5), CmpOp::equal), 1);
  EXPECT_EQ(compare(window, integer::make(5), CmpOp::lesser), -2);
}

TEST_F(Handle, NothingInheritedFromInteger) {
  const ActionTable& table = actions();
  EXPECT_EQ(table.make, nullptr);
  EXPECT_EQ(table.to, nullptr);
  EXPECT_EQ(table.add, nullptr);
  EXPECT_EQ(table.random, nullptr);
  EXPECT_EQ(table.even_q, nullptr);
  EXPECT_NE(table.form, nullptr);
}

TEST_F(Handle, ValuePrimitives) {
  handle::push_null();
  EXPECT_EQ(form_of(*stack::last()).text, "00000000h");
  EXPECT_EQ(handle::kind_of(*stack::last()), handle::Kind::null);
  Val block = block::push_new(2);
  handle::make_in_block(block, 42, handle::Kind::monitor);
  EXPECT_EQ(testing::molded(*block, {.all = true}), "[#[handle! 0000002Ah monitor]]");
}

}  // namespace
}  // namespace kiv
