// ref!: a reference, @name. The text holds no "@"; mold adds it. A
// string! that cannot be appended to, sorted or trimmed, and has no paths.
#pragma once

namespace kiv::ref {

void register_types();

}  // namespace kiv::ref
