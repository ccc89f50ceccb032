# Release builds of one commit give the same bytes wherever and whenever they
# are made: no build folder in the objects, and the PE time stamp taken from
# SOURCE_DATE_EPOCH or, without it, from the commit's time.

# The time stamp; 0 (none) when there is neither the variable nor a commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ZORVIK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(ZORVIK_SOURCE_DATE_EPOCH 0)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE _zorvik_commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _zorvik_git_result ERROR_QUIET)
    if(_zorvik_git_result EQUAL 0 AND _zorvik_commit_time MATCHES "^[0-9]+$")
      set(ZORVIK_SOURCE_DATE_EPOCH ${_zorvik_commit_time})
    endif()
    # A new commit changes the time stamp: configure again when HEAD moves.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE _zorvik_git_dir OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _zorvik_git_result ERROR_QUIET)
    if(_zorvik_git_result EQUAL 0 AND EXISTS ${_zorvik_git_dir}/logs/HEAD)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_zorvik_git_dir}/logs/HEAD)
    endif()
  endif()
endif()
if(NOT ZORVIK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR ZORVIK_SOURCE_DATE_EPOCH GREATER 4294967295)
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970 that fit a PE time stamp, "
                      "not '${ZORVIK_SOURCE_DATE_EPOCH}'")
endif()

if(NOT MSVC)
  # Paths in release objects (__FILE__, debug sections before -s) name the
  # source and build folders relative to themselves.
  add_compile_options(
    "$<$<CONFIG:Release>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
    "$<$<CONFIG:Release>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
endif()

# zorvik_reproducible_timestamp(TARGET): the target's PE time stamp is
# ZORVIK_SOURCE_DATE_EPOCH instead of the time of linking.
function(zorvik_reproducible_timestamp target)
  if(MSVC)
    # link.exe has no time stamp option; /Brepro puts a hash of the image there.
    target_link_options(${target} PRIVATE /Brepro)
  else()
    # GNU ld has no option for it, but reads SOURCE_DATE_EPOCH while it links.
    set_target_properties(${target} PROPERTIES CXX_LINKER_LAUNCHER
      "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${ZORVIK_SOURCE_DATE_EPOCH}")
  endif()
endfunction()
