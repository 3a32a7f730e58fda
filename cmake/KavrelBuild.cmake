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

# kavrel_export_only(target prefix mapfile deffile): a shared library that exports only
# the symbols its version script (ELF) or .def file (Windows) names. Hidden visibility alone
# still leaks the C++ runtime's template instantiations, so the linker decides.
function(kavrel_export_only target mapfile deffile)
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_sources(${target} PRIVATE ${deffile})
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++)
  else()
    target_link_options(${target} PRIVATE -Wl,--version-script=${mapfile})
    # clang links the sanitizer runtimes into executables only, so a sanitized shared
    # library has undefined references until the executable loads it.
    if(NOT KAVREL_SANITIZE)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${mapfile})
  endif()
endfunction()

# kavrel_add_gtest(name SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...])
# Every test gets a time-out so that a hang fails the run instead of stalling it.
# Label "concurrency" marks the tests that the ThreadSanitizer run executes.
function(kavrel_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kavrel_test_support GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  kavrel_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
               ENVIRONMENT "KAVREL_SOURCE_DIR=${PROJECT_SOURCE_DIR};KAVREL_BINARY_DIR=${PROJECT_BINARY_DIR}")
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

find_package(Threads REQUIRED)
