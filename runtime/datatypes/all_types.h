// Registration of every datatype, parents before children.
#pragma once

namespace kiv::datatypes {

void register_all();

}  // namespace kiv::datatypes
