// Ports whose actor is a handle! naming a native action table: scripts
// cannot make such a table, so the table is made here.
#include "runtime/datatypes/port.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::eval_error;
using testing::eval_molded;
using testing::value_of;

// What the table's functions saw last.
int32_t g_appended = 0;
int32_t g_part = 0;

void native_append(Val port, Val value, int32_t part, bool, int32_t) {
  g_appended = cell::get_int32(*value);
  g_part = part;
  (void)port;
}
int32_t native_length(Val) { return 7; }

class NativePort : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    static const ActionTable table = [] {
      ActionTable actions{};
      actions.append = native_append;
      actions.length_q = native_length;
      return actions;
    }();
    const uint32_t id = port::add_native_actions(&table);
    value_of("system: make object! [schemes: reduce ['native make object! [name: title: info: actor: awake: none]]]");
    const Cell scheme = value_of("pick system/schemes 2");  // held by system
    const int32_t actor = object::find_field(scheme, symbol::make("actor"));
    ASSERT_GE(actor, 0);
    *context::slot(scheme.w1, static_cast<uint32_t>(actor)) = handle::make(id, handle::Kind::null);
    value_of("p: make port! [scheme: 'native]");
  }
};

TEST_F(NativePort, ActionsRunTheTablesFunctions) {
  EXPECT_EQ(eval_molded("type? p/actor"), "handle!");
  EXPECT_EQ(eval_molded("length? p"), "7");
  g_appended = 0;
  value_of("append/part p 42 1");
  EXPECT_EQ(g_appended, 42);
  EXPECT_EQ(g_part, 1);
}

TEST_F(NativePort, AnEmptyEntryIsNoPortAction) {
  EXPECT_EQ(eval_error("clear p"), error_id::access::no_port_action.value);
  EXPECT_EQ(eval_error("read p"), error_id::access::no_port_action.value);
  // Actions below append are the port's own.
  EXPECT_EQ(eval_molded("type? p"), "port!");
}

}  // namespace
}  // namespace kiv
