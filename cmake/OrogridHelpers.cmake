# Build helpers shared by every subsystem.

# Warnings as errors on the project's own code only (third-party code such as
# GoogleTest is built without them).
function(orogrid_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  endif()
endfunction()

# orogrid_add_library(name SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# One static library per subsystem; include paths are rooted at the source
# tree so headers are named by folder ("shm/TrnInterfaceShm.h").
function(orogrid_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_DEPS})
  orogrid_warnings(${name})
endfunction()

# orogrid_add_executable(name SOURCES ... [DEPS ...])
function(orogrid_add_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  orogrid_warnings(${name})
endfunction()

# orogrid_add_test(name SOURCES ... [DEPS ...] LABELS unit|process ... [TIMEOUT s])
# A GoogleTest program registered as one ctest entry. When cross-compiling,
# ctest runs it through CMAKE_CROSSCOMPILING_EMULATOR (Wine). Every test is
# labelled either `unit` (in the test's own process, quick) or `process`
# (starts other programs or uses the real segment).
function(orogrid_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  set(kinds 0)
  foreach(kind unit process)
    if(kind IN_LIST ARG_LABELS)
      math(EXPR kinds "${kinds} + 1")
    endif()
  endforeach()
  if(NOT kinds EQUAL 1)
    message(FATAL_ERROR "test ${name}: label it either unit or process (LABELS)")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  orogrid_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()
