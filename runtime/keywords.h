// Words the runtime itself recognises, interned once at start-up: parse
// keywords, platform names, event and date fields, series change reports,
// trace events, error categories. C++ code compares words against the
// symbol ids kept here.
#pragma once

#include <cstdint>

namespace kiv::kw {

// Symbol ids, set by `init`.
extern uint32_t self;
extern uint32_t local;
extern uint32_t none;
extern uint32_t true_;
extern uint32_t false_;

// Interns the keywords, then appends the refinements /local /extern
// /compare /part /skip /with and the issue #ooo to the root block.
void init();

}  // namespace kiv::kw
