# Flags shared by every target of the project.
#
# -ffp-contract=off keeps a * b + c from being fused: float results must be
# the same on every machine and in every build type. -ffast-math is never used.
add_library(kiv_flags INTERFACE)
target_compile_options(kiv_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wdouble-promotion -Wformat=2
  # Registration records name only the action slots a type fills.
  -Wno-missing-field-initializers
  -ffp-contract=off)
if(KIV_WERROR)
  target_compile_options(kiv_flags INTERFACE -Werror)
endif()
if(KIV_SANITIZE)
  target_compile_options(kiv_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)
  target_link_options(kiv_flags INTERFACE -fsanitize=address,undefined)
  target_compile_definitions(kiv_flags INTERFACE KIV_SANITIZED=1)
endif()
if(KIV_FUZZ)
  # Coverage for libFuzzer in every object; the fuzz targets link the
  # fuzzer's own main (tests/fuzz/CMakeLists.txt).
  target_compile_options(kiv_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR KIV_SANITIZE)
  # Debug checks of the runtime's own invariants (no-allocation scopes,
  # rooted-value order, ...).
  target_compile_definitions(kiv_flags INTERFACE KIV_DEBUG_CHECKS=1)
endif()
