# Use ccache when the machine has it: rebuilds from a clean tree then cost
# little more than the link.
find_program(KIV_CCACHE ccache)
if(KIV_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER "${KIV_CCACHE}")
  message(STATUS "Using ccache: ${KIV_CCACHE}")
endif()
