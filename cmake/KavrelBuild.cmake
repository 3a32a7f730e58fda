# Shared build settings: warnings, sanitizers and the helpers that every component uses.

if(MSVC)
  set(KAVREL_WARNINGS /W4)
  if(KAVREL_WERROR)
    list(APPEND KAVREL_WARNINGS /WX)
  endif()
else()
  set(KAVREL_WARNINGS -Wall -Wextra -Wformat=2 -Wno-missing-field-initializers)
  if(KAVREL_WERROR)
    list(APPEND KAVREL_WARNINGS -Werror)
  endif()
endif()

# Paths inside the objects (__FILE__ in log records, debug information) are relative to the
# source tree, so that nothing built here names a folder of the machine that built it.
if(NOT MSVC)
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
  string(FIND "${PROJECT_BINARY_DIR}/" "${PROJECT_SOURCE_DIR}/" kavrel_binary_in_source)
  if(NOT kavrel_binary_in_source EQUAL 0)
    add_compile_options("-ffile-prefix-map=${PROJECT_BINARY_DIR}/=build/")
  endif()
endif()

if(KAVREL_SANITIZE)
  add_compile_options(-fsanitize=${KAVREL_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${KAVREL_SANITIZE})
  if(KAVREL_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# kavrel_warnings(target): the project's warning set on one target.
function(kavrel_warnings target)
  target_compile_options(${target} PRIVATE ${KAVREL_WARNINGS})
endfunction()

set(KAVREL_MSVC_DIR ${PROJECT_BINARY_DIR}/msvc)
file(MAKE_DIRECTORY ${KAVREL_MSVC_DIR})

# kavrel_export_only(target mapfile [deffile]): a shared library that exports only the
# symbols its version script (ELF) names, or on Windows its .def file (when given) or its
# dllexport declarations. Hidden visibility alone still leaks the C++ runtime's template
# instantiations on ELF, so the linker decides.
function(kavrel_export_only target mapfile)
  set(deffile "${ARGN}")
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    if(deffile)
      target_sources(${target} PRIVATE ${deffile})
    endif()
    set_target_properties(${target} PROPERTIES PREFIX "")
    # Self-contained DLLs: the C++ runtime and winpthread linked in, system DLLs imported.
    target_link_options(${target} PRIVATE -static)
    # The GNU import library comes with the DLL; an MSVC one is made from the DLL's export
    # list, so that hosts built with either toolchain link against the same DLL.
    set(def ${KAVREL_MSVC_DIR}/${target}.def)
    target_link_options(${target} PRIVATE -Wl,--output-def,${def})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND x86_64-w64-mingw32-dlltool -d ${def} -D $<TARGET_FILE_NAME:${target}>
              -l ${KAVREL_MSVC_DIR}/${target}.lib
      VERBATIM)
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${mapfile})
    # Sanitizer runtimes are linked into executables only, so shared libraries built with
    # them have undefined references by design.
    if(NOT KAVREL_SANITIZE)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${mapfile})
  endif()
endfunction()

# kavrel_add_gtest(name SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...])
# Every test gets a time-out so that a hang fails the run instead of stalling it.
# Label "concurrency" marks the tests that the ThreadSanitizer run executes; the target
# concurrency_tests builds their programs alone.
function(kavrel_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(WIN32 AND name IN_LIST KAVREL_LINUX_ONLY_TESTS)
    # Still a target, so that the folder's further settings on it hold; never built.
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  if("concurrency" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY KAVREL_CONCURRENCY_TESTS ${name})
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} kavrel_test_support GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  kavrel_warnings(${name})
  # One variable per property: a list value would be split on its way through discovery.
  set(properties TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "KAVREL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      ENVIRONMENT_MODIFICATION "KAVREL_BINARY_DIR=set:${PROJECT_BINARY_DIR}")
  # An empty LABELS value would swallow the next property name.
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  if(WIN32)
    # The test lists come from the programs themselves, run under Wine when CTest starts:
    # the build itself needs no Wine.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
                         PROPERTIES ${properties})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  endif()
endfunction()

# kavrel_add_fuzzer(name SOURCES ... [LIBS ...]): a libFuzzer target; scripts/test.sh runs
# every target briefly, using fuzz/<name>/corpus when it exists.
function(kavrel_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set_property(GLOBAL APPEND PROPERTY KAVREL_FUZZERS ${name})
endfunction()

if(WIN32)
  # Programs carry the C++ and thread runtimes with them, so that a test program, a helper,
  # the example host or kavrel.exe needs nothing beside it but the project's DLLs.
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
endif()

find_package(Threads REQUIRED)
