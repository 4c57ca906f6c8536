// Reading settings from the system object (system/locale/months,
// system/options/money-digits, ...) on behalf of the datatypes.
//
// The system object is built by the script library; until it exists, or
// when a step of the path is missing, the lookup answers none and the
// datatypes fall back on their built-in defaults.
#pragma once

#include <initializer_list>
#include <string_view>

#include "runtime/core/cell.h"

namespace kiv::system_settings {

// The value at system/<names...>, or none when the system object or any
// object on the way is missing. Does not allocate for the names the
// keywords intern at start-up (system, locale, months, currencies, list,
// options, money-digits); money! comparison relies on that.
Cell lookup(std::initializer_list<std::string_view> names);

}  // namespace kiv::system_settings
