// tag!: a string written between angle brackets, <a href="x">. The text
// holds no brackets; form and mold add them. Otherwise a string! in every
// way (the cell and buffer are string.h's).
#pragma once

namespace kiv::tag {

void register_types();

}  // namespace kiv::tag
