// Symbols, contexts, binding and the word types from C++: symbol ids and
// their aliases, context stores, binding, the budgets of mold and the
// compare modes scripts do not name. What scripts reach is in
// tests/kiv/datatypes/word.kiv.
#include <gtest/gtest.h>

#include <string>

#include "runtime/core/collector.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/keywords.h"
#include "runtime/root_block.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::form_of;
using testing::mold_of;
using testing::raised_error;

using testing::cell_series;

Cell as(TypeId type, Cell word) {
  cell::set_type(word, type);
  return word;
}

class Symbols : public testing::RuntimeTest {};

TEST_F(Symbols, CaseVariantsAreAliasesOfTheFirstSpelling) {
  const uint32_t foo = symbol::make("foo");
  const uint32_t Foo = symbol::make("Foo");
  const uint32_t FOO = symbol::make("FOO");
  EXPECT_NE(foo, Foo);
  EXPECT_NE(Foo, FOO);
  EXPECT_EQ(symbol::alias_of(foo), symbol::canonical);
  EXPECT_EQ(symbol::alias_of(Foo), foo);
  EXPECT_EQ(symbol::alias_of(FOO), foo);
  EXPECT_EQ(symbol::make("Foo"), Foo) << "the exact spelling wins over a case variant";
  EXPECT_EQ(symbol::resolve(FOO), foo);
  EXPECT_EQ(symbol::spelling(FOO), "FOO");
  EXPECT_EQ(symbol::make_caseless("fOO"), foo) << "any variant answers a caseless lookup";
  const uint32_t before = symbol::count();
  EXPECT_EQ(symbol::make_caseless("brand-new"), before + 1);
  EXPECT_EQ(symbol::alias_of(before + 1), symbol::canonical);
}

TEST_F(Symbols, OnlyAsciiLettersFold) {
  const uint32_t lower = symbol::make("caf\xC3\xA9");  // café
  const uint32_t upper = symbol::make("CAF\xC3\x89");  // CAFÉ
  EXPECT_EQ(symbol::alias_of(upper), symbol::canonical);
  EXPECT_NE(symbol::resolve(upper), symbol::resolve(lower));
  EXPECT_EQ(symbol::make(""), symbol::make("")) << "an empty name is a name";
}

TEST_F(Symbols, SpellingStringIsMadeOnce) {
  const uint32_t id = symbol::make("spelt");
  const NodeId first = symbol::spelling_string(id);
  EXPECT_EQ(symbol::spelling_string(id), first);
  EXPECT_EQ(string::to_utf8(series::make(TypeId::string, first)), "spelt");
}

TEST_F(Symbols, TypeNamesComeFirstInTypeOrder) {
  EXPECT_EQ(datatype::info(TypeId::datatype).symbol, 1u);
  uint32_t previous = 0;
  for (TypeId type : {TypeId::datatype, TypeId::unset, TypeId::none, TypeId::logic, TypeId::symbol, TypeId::word,
                      TypeId::issue}) {
    const uint32_t id = datatype::info(type).symbol;
    EXPECT_GT(id, previous);
    EXPECT_EQ(symbol::spelling(id), datatype::info(type).name);
    previous = id;
  }
  EXPECT_EQ(symbol::spelling(kw::self), "self");
  bool found_issue = false;
  for (uint32_t i = 0; i < root_block::length(); ++i) {
    const Cell value = root_block::at(i);
    if (cell::is(value, TypeId::issue) && symbol::spelling(value.w2) == "ooo") found_issue = true;
  }
  EXPECT_TRUE(found_issue) << "#ooo is among the boot values";
}

class Contexts : public testing::RuntimeTest {};

TEST_F(Contexts, MakeAddAndFind) {
  const NodeId ctx = testing::hold(context::make(0, {}));
  EXPECT_EQ(context::word_count(ctx), 0u);
  const uint32_t a = symbol::make("alpha");
  const uint32_t A = symbol::make("ALPHA");
  bool added = false;
  EXPECT_EQ(context::add_symbol(ctx, a, true, &added), 0u);
  EXPECT_TRUE(added);
  EXPECT_EQ(context::add_symbol(ctx, A, true, &added), 0u) << "caseless: the same word";
  EXPECT_FALSE(added);
  EXPECT_EQ(context::find_symbol(ctx, A, false), -1) << "exact: another spelling";
  EXPECT_EQ(context::find_symbol(ctx, A, true), 0);
  for (int i = 0; i < 50; ++i) context::add_symbol(ctx, symbol::make("w" + std::to_string(i)), true);
  EXPECT_EQ(context::word_count(ctx), 51u) << "a context grows past its first size";
  EXPECT_EQ(context::find_symbol(ctx, symbol::make("w49"), true), 50);
  EXPECT_TRUE(cell::is(*context::slot(ctx, 50), TypeId::unset));
}

TEST_F(Contexts, StoreAndGetThroughWords) {
  const NodeId ctx = testing::hold(context::make(4, {}));
  Rooted<NodeId> keep(ctx);
  Val word = stack::push(word::make(TypeId::word, ctx, symbol::make("count"), word::unresolved));
  context::store_word(word, integer::push(7), ctx, true);
  EXPECT_NE(word->w3, word::unresolved) << "the first store resolves the word";
  EXPECT_EQ(cell::get_int32(*context::get(*word)), 7);

  const Cell variant = word::make(TypeId::word, ctx, symbol::make("COUNT"), word::unresolved);
  Cell bound = variant;
  EXPECT_GE(context::bind_word(ctx, bound), 0) << "binding is caseless";
  EXPECT_EQ(bound.w2, variant.w2) << "and keeps the word's spelling";
  EXPECT_EQ(cell::get_int32(*context::get(bound)), 7);
}

TEST_F(Contexts, GlobalCaseVariantsShareOneSlot) {
  const Cell foo = word::intern("Shared");
  const Cell exact = word::make_global(symbol::make("SHARED"));
  EXPECT_EQ(foo.w3, exact.w3) << "an exact entry of a variant names the first variant's slot";
  EXPECT_EQ(symbol::spelling(exact.w2), "SHARED");
  Val word = stack::push(foo);
  context::set(word, integer::push(3));
  EXPECT_EQ(cell::get_int32(*context::get(exact)), 3);
}

// Global reads go through a kept values buffer: they must follow the
// values when the context grows into a new buffer and when the collector
// moves it.
TEST_F(Contexts, GlobalReadsFollowTheValuesWhenTheyMove) {
  const Cell first = word::intern("first-global");
  context::set(stack::push(first), integer::push(11));
  ASSERT_EQ(cell::get_int32(*context::get(first)), 11);
  const uint64_t moves = memory::relocations;
  for (int32_t i = 0; i < 5000; ++i) {
    const Cell word = word::intern("grown-" + std::to_string(i));
    context::set(stack::push(word), integer::push(i));
    stack::pop(2);
    ASSERT_EQ(context::get(first), context::slot_uncached(first.w1, first.w3)) << "after " << i << " new words";
  }
  EXPECT_GT(memory::relocations, moves) << "the values grew into a new buffer";
  collector::collect();
  EXPECT_EQ(context::get(first), context::slot_uncached(first.w1, first.w3));
  EXPECT_EQ(cell::get_int32(*context::get(first)), 11);
  EXPECT_EQ(cell::get_int32(*context::get(word::intern("grown-4999"))), 4999);
}

// The cells of the context last asked for are kept too: a freed node whose
// id comes back with another buffer must not be read through the old one.
TEST_F(Contexts, KeptContextCellsFollowAReusedNode) {
  const NodeId dead = context::make(4, {});
  context::context_cell(dead).w3 = 77;  // kept from here
  // Garbage made after it is freed with it, so the id need not be the next
  // one handed out.
  for (int i = 0; i < 3000; ++i) memory::new_cell_series(1);
  collector::collect();
  ASSERT_FALSE(memory::is_live_node(dead));
  // No new frame is made while a frame has a free node: taking as many
  // nodes as are free brings every freed id back. The collector stays off
  // meanwhile, so that no collection frees more.
  size_t free_nodes = 0;
  for (const memory::NodeFrameUse& frame : memory::usage().node_frames) free_nodes += frame.free_nodes;
  runtime::state.collector_on = false;
  NodeId reused = no_node;
  for (size_t i = 0; i < free_nodes && reused != dead; ++i) reused = testing::hold(memory::new_cell_series(2));
  ASSERT_EQ(reused, dead) << "the freed id comes back";
  EXPECT_EQ(&context::context_cell(reused), reinterpret_cast<Cell*>(memory::buffer(reused)->head_ptr()));
}

TEST_F(Contexts, ReadErrors) {
  const NodeId fn = testing::hold(context::make_from_words(
      cell_series({word::intern("a"), as(TypeId::refinement, word::intern("local")), word::intern("b")}), 0,
      {.values_on_stack = true, .kind = context::Kind::function}));
  Rooted<NodeId> keep(fn);
  EXPECT_EQ(context::word_count(fn), 3u);
  Cell a = word::intern("a");
  ASSERT_EQ(context::bind_word(fn, a), 0);
  EXPECT_EQ(raised_error([&] { context::get(a); }), error_id::script::not_in_context.value)
      << "a function's word outside any call";

  // During a call the words read the argument window.
  const uint32_t base = stack::depth();
  integer::push(10);
  stack::push(logic::make(false));
  integer::push(20);
  context::set_values_base(fn, base);
  EXPECT_EQ(cell::get_int32(*context::get(a)), 10);
  Val z = stack::push(word::make(TypeId::word, fn, symbol::make("zz"), word::unresolved));
  EXPECT_EQ(raised_error([&] { context::store_word(z, integer::push(1), fn, true); }),
            error_id::script::not_defined.value)
      << "no word joins a running function's context";
  context::stop_values(fn);

  const NodeId plain = testing::hold(context::make(1, {}));
  const Cell unresolved = word::make(TypeId::word, plain, symbol::make("nothing"), word::unresolved);
  EXPECT_EQ(raised_error([&] { context::get(unresolved); }), error_id::script::no_value.value);
  const Cell self = word::make(TypeId::word, plain, kw::self, word::unresolved);
  EXPECT_EQ(context::get(self), &context::self_cell(plain)) << "self reads the self cell";
  const Cell unbound = word::make(TypeId::refinement, no_node, kw::local, word::unresolved);
  EXPECT_EQ(raised_error([&] { context::get(unbound); }), error_id::script::not_defined.value);
}

TEST_F(Contexts, MadeFromASourceOwnsItsEntries) {
  const NodeId source = testing::hold(context::make(2, {.kind = context::Kind::object}));
  Rooted<NodeId> keep_source(source);
  context::add_symbol(source, symbol::make("x"), true);
  const NodeId copy = testing::hold(context::make(2, {.kind = context::Kind::object}, source));
  EXPECT_EQ(context::find_symbol(copy, symbol::make("x"), true), 0);
  EXPECT_EQ(context::word_at(copy, 0).w1, copy);
  context::add_symbol(copy, symbol::make("y"), true);
  EXPECT_EQ(context::find_symbol(source, symbol::make("y"), true), -1) << "the copy has its own store";
}

TEST_F(Contexts, CollectSetWords) {
  const NodeId ctx = testing::hold(context::make(2, {}));
  Rooted<NodeId> keep(ctx);
  const NodeId block = cell_series({as(TypeId::set_word, word::intern("p")), integer::make(1), word::intern("q")});
  EXPECT_TRUE(context::collect_set_words(ctx, block, 0));
  EXPECT_FALSE(context::collect_set_words(ctx, block, 0)) << "nothing new the second time";
  EXPECT_EQ(context::word_count(ctx), 1u);
}

class Binding : public testing::RuntimeTest {};

TEST_F(Binding, DeepAndCaselessWithSelf) {
  const NodeId ctx = testing::hold(context::make(2, {}));
  Rooted<NodeId> keep(ctx);
  context::add_symbol(ctx, symbol::make("v"), true);
  const Cell self_word = word::make(TypeId::word, no_node, kw::self, word::unresolved);
  const NodeId inner = cell_series({word::intern("V"), self_word, as(TypeId::set_word, self_word)});
  const NodeId outer = cell_series({series::make(TypeId::paren, inner), as(TypeId::get_word, word::intern("v")),
                                 word::intern("other"), self_word});
  context::bind_block(ctx, outer, 0, true);
  const Cell* in = reinterpret_cast<const Cell*>(memory::buffer(inner)->head_ptr());
  const Cell* out = reinterpret_cast<const Cell*>(memory::buffer(outer)->head_ptr());
  EXPECT_EQ(in[0].w1, ctx) << "nested and caseless";
  EXPECT_EQ(out[1].w1, ctx) << "get-words bind too";
  EXPECT_EQ(out[2].w1, context::global()) << "unknown words keep their binding";
  EXPECT_EQ(out[3].w1, ctx) << "plain self binds to the context";
  EXPECT_EQ(out[3].w3, word::unresolved);
  EXPECT_EQ(in[2].w1, no_node) << "self: is not rebound";
}

TEST_F(Binding, SelfContainingBlocksEndAndDeepNestingRaises) {
  const NodeId ctx = testing::hold(context::make(1, {}));
  Rooted<NodeId> keep(ctx);
  const NodeId loop = cell_series({word::intern("a")});
  *series::append_slot(loop) = series::make(TypeId::block, loop);
  context::bind_block(ctx, loop, 0, false);  // terminates

  NodeId nested = cell_series({});
  for (int i = 0; i < 1000; ++i) nested = cell_series({series::make(TypeId::block, nested)});
  EXPECT_EQ(raised_error([&] { context::bind_block(ctx, nested, 0, false); }), error_id::internal::too_deep.value);
  EXPECT_EQ(cycle::depth(), 0u);
}

class Words : public testing::RuntimeTest {};

TEST_F(Words, MoldAndFormOfEachKind) {
  const Cell word = word::intern("name");
  struct Case {
    TypeId type;
    const char* molded;
  };
  const Case cases[] = {{TypeId::word, "name"},      {TypeId::set_word, "name:"},   {TypeId::lit_word, "'name"},
                        {TypeId::get_word, ":name"}, {TypeId::refinement, "/name"}, {TypeId::issue, "#name"}};
  for (const Case& c : cases) {
    const auto molded = mold_of(as(c.type, word), {}, 100);
    EXPECT_EQ(molded.text, c.molded);
    EXPECT_EQ(molded.budget, 100 - static_cast<int32_t>(molded.text.size()));
    EXPECT_EQ(form_of(as(c.type, word)).text, "name");
  }
  EXPECT_EQ(mold_of(word::make_issue("a b")).text, "#a b") << "an issue keeps any text";
  EXPECT_EQ(form_of(word::intern("\xCE\xB1\xCE\xB2"), 10).budget, 8) << "the budget counts characters";
}

TEST_F(Words, CompareModesScriptsDoNotName) {
  const Cell foo = word::intern("foo");
  const Cell Foo = word::intern("Foo");
  const Cell lit_foo = as(TypeId::lit_word, foo);
  const Cell set_Foo = as(TypeId::set_word, Foo);
  struct Case {
    Cell a, b;
    CmpOp op;
    int expected;
  };
  const Case cases[] = {
      {foo, lit_foo, CmpOp::find_word, 0},  {foo, set_Foo, CmpOp::find_word, 1},
      {foo, set_Foo, CmpOp::find_word_case, 1}, {Foo, as(TypeId::lit_word, foo), CmpOp::find_word_case, 0},
      {foo, set_Foo, CmpOp::lookup, 0},     {foo, word::make_issue("foo"), CmpOp::equal, -2},
      {word::make_issue("foo"), foo, CmpOp::equal, -2},
      {foo, integer::make(1), CmpOp::equal, -2},
      {word::intern("apple"), word::intern("Banana"), CmpOp::case_sort, 1},
  };
  for (const Case& c : cases) {
    const auto compare = datatype::actions(cell::type_of(c.a)).compare;
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << symbol::spelling(c.a.w2) << " / " << symbol::spelling(c.b.w2) << " op " << static_cast<int>(c.op);
  }
}

TEST_F(Words, IndexAndTheBindingAConversionKeeps) {
  const ActionTable& actions = datatype::actions(TypeId::word);
  EXPECT_EQ(actions.index_q(stack::push(word::make(TypeId::word, context::global(), kw::self, word::unresolved))),
            -1)
      << "an unresolved word has no index";
  const Cell bound = word::intern("indexed");
  EXPECT_EQ(actions.index_q(stack::push(bound)), static_cast<int32_t>(bound.w3) + 1);
  EXPECT_EQ(datatype::actions(TypeId::refinement).index_q, nullptr);

  Val result = stack::push(datatype::make(TypeId::word));
  actions.to(result, stack::push(as(TypeId::get_word, bound)), TypeId::lit_word);
  EXPECT_EQ(result->w3, bound.w3) << "same word, same binding";
}

}  // namespace
}  // namespace kiv
