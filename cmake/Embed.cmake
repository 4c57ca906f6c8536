# Embedding source files in the executable.
#
# kiv_embed(TARGET FILE NAME) compiles FILE (relative to the project root)
# into TARGET as the function `std::string_view kiv::embedded::NAME()`,
# which answers the file's bytes. The C++ source is generated in the build
# tree whenever FILE changes; runtime/embedded.h declares the functions.
#
# The same file is the generator: run as a script (cmake -P) with INPUT,
# OUTPUT and NAME defined, it writes the C++ source.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${INPUT}" hex HEX)
  # Sixteen bytes to a line, each as 0xNN.
  string(REPEAT "[0-9a-f]" 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
  string(REGEX REPLACE " +\n" "\n" bytes "${bytes}")
  get_filename_component(source_name "${INPUT}" NAME)
  file(WRITE "${OUTPUT}"
"// Generated from ${source_name} by cmake/Embed.cmake: do not edit.
#include <string_view>

#include \"runtime/embedded.h\"

namespace kiv::embedded {
namespace {

// The file's bytes and a closing NUL that is not part of them.
constexpr unsigned char bytes[] = {
    ${bytes}0x00};

}  // namespace

std::string_view ${NAME}() { return {reinterpret_cast<const char*>(bytes), sizeof bytes - 1}; }

}  // namespace kiv::embedded
")
  return()
endif()

set(KIV_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(kiv_embed target file name)
  set(input ${PROJECT_SOURCE_DIR}/${file})
  set(output ${PROJECT_BINARY_DIR}/embedded/${name}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DNAME=${name} -P ${KIV_EMBED_SCRIPT}
    DEPENDS ${input} ${KIV_EMBED_SCRIPT}
    COMMENT "Embedding ${file}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
