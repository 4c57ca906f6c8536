# What the running program tells of its own build (system/build): when it
# was configured, and the commit it was built from when the tree is a git
# checkout. Written at configure time into build_info.h.
string(TIMESTAMP KIV_BUILD_SECONDS "%s" UTC)
set(KIV_GIT_SECONDS -1)
set(KIV_GIT_COMMIT "")
set(KIV_GIT_MESSAGE "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" log -1 --format=%ct%n%H%n%s
                  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                  OUTPUT_VARIABLE git_head OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_status ERROR_QUIET)
  if(git_status EQUAL 0)
    string(REPLACE "\n" ";" git_fields "${git_head}")
    list(LENGTH git_fields git_count)
    if(git_count GREATER_EQUAL 2)
      list(GET git_fields 0 KIV_GIT_SECONDS)
      list(GET git_fields 1 KIV_GIT_COMMIT)
      if(git_count GREATER_EQUAL 3)
        list(GET git_fields 2 KIV_GIT_MESSAGE)
      endif()
    endif()
  endif()
endif()
# The message sits in a raw string literal: keep its closing out of it.
string(REPLACE ")~~~" ")~~ ~" KIV_GIT_MESSAGE "${KIV_GIT_MESSAGE}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/build_info.h.in" "${PROJECT_BINARY_DIR}/build_info.h" @ONLY)
