# Dependencies of the Windows cross build, taken from Debian without
# committing any of their source:
#  - tinyxml2 and PCRE2 from Debian's source packages, fetched into the build
#    tree;
#  - nlohmann/json's headers from the Debian package, linked into an include
#    folder of their own (adding /usr/include would shadow mingw's headers).

set(DORMEX_DEPS_DIR "${CMAKE_BINARY_DIR}/_deps")
file(MAKE_DIRECTORY "${DORMEX_DEPS_DIR}")

# Fetches and unpacks a Debian source package once; sets <variable> to the
# folder the upstream archive unpacks to (<package>-<version>).
function(dormex_debian_source package variable)
  file(GLOB dirs LIST_DIRECTORIES true "${DORMEX_DEPS_DIR}/${package}-*")
  list(FILTER dirs EXCLUDE REGEX "\\.(tar|xz|gz|bz2|dsc)")
  if(NOT dirs)
    message(STATUS "Fetching ${package} from Debian's source package")
    execute_process(
      COMMAND apt-get source --download-only ${package}
      WORKING_DIRECTORY "${DORMEX_DEPS_DIR}"
      RESULT_VARIABLE fetch_result OUTPUT_QUIET ERROR_VARIABLE fetch_error)
    file(GLOB archives "${DORMEX_DEPS_DIR}/${package}_*.orig.tar.*")
    if(NOT fetch_result EQUAL 0 OR NOT archives)
      message(FATAL_ERROR "Cannot fetch ${package}'s source package (is a deb-src entry set up? "
                          "scripts/install-deps.sh windows does it): ${fetch_error}")
    endif()
    list(GET archives 0 archive)
    file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${DORMEX_DEPS_DIR}")
    file(GLOB dirs LIST_DIRECTORIES true "${DORMEX_DEPS_DIR}/${package}-*")
    list(FILTER dirs EXCLUDE REGEX "\\.(tar|xz|gz|bz2|dsc)")
  endif()
  list(GET dirs 0 dir)
  set(${variable} "${dir}" PARENT_SCOPE)
endfunction()

dormex_debian_source(tinyxml2 TINYXML2_SOURCE_DIR)
add_library(tinyxml2 STATIC "${TINYXML2_SOURCE_DIR}/tinyxml2.cpp")
target_include_directories(tinyxml2 SYSTEM PUBLIC "${TINYXML2_SOURCE_DIR}")
add_library(tinyxml2::tinyxml2 ALIAS tinyxml2)

# PCRE2's 8-bit library with its JIT, built the way its NON-AUTOTOOLS-BUILD
# describes: the generic config, header and character tables as they ship.
enable_language(C)
dormex_debian_source(pcre2 PCRE2_SOURCE_DIR)
set(pcre2_generated "${DORMEX_DEPS_DIR}/pcre2-generated")
configure_file("${PCRE2_SOURCE_DIR}/src/config.h.generic" "${pcre2_generated}/config.h" COPYONLY)
configure_file("${PCRE2_SOURCE_DIR}/src/pcre2.h.generic" "${pcre2_generated}/pcre2.h" COPYONLY)
configure_file("${PCRE2_SOURCE_DIR}/src/pcre2_chartables.c.dist"
               "${pcre2_generated}/pcre2_chartables.c" COPYONLY)
set(pcre2_sources "${pcre2_generated}/pcre2_chartables.c")
foreach(name auto_possess compile config context convert dfa_match error extuni find_bracket
             jit_compile maketables match match_data newline ord2utf pattern_info script_run
             serialize string_utils study substitute substring tables ucd valid_utf xclass)
  list(APPEND pcre2_sources "${PCRE2_SOURCE_DIR}/src/pcre2_${name}.c")
endforeach()
add_library(pcre2-8 STATIC ${pcre2_sources})
target_compile_definitions(pcre2-8 PRIVATE HAVE_CONFIG_H SUPPORT_PCRE2_8 SUPPORT_JIT HAVE_MEMMOVE
                                           HAVE_STRERROR PCRE2_CODE_UNIT_WIDTH=8
                           PUBLIC PCRE2_STATIC)
target_include_directories(pcre2-8 PRIVATE "${PCRE2_SOURCE_DIR}/src")
target_include_directories(pcre2-8 SYSTEM PUBLIC "${pcre2_generated}")
target_compile_options(pcre2-8 PRIVATE -w)
add_library(PCRE2::8BIT ALIAS pcre2-8)

set(json_include "${DORMEX_DEPS_DIR}/json-include")
if(NOT EXISTS "${json_include}/nlohmann/json.hpp")
  if(NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann/json is missing: apt-get install nlohmann-json3-dev")
  endif()
  file(MAKE_DIRECTORY "${json_include}")
  file(COPY /usr/include/nlohmann DESTINATION "${json_include}")
endif()
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE "${json_include}")
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# GoogleTest from the source Debian's googletest package installs, built with
# the cross compiler for the Windows unit tests.
if(BUILD_TESTING)
  set(googletest_source /usr/src/googletest/googletest)
  if(NOT EXISTS "${googletest_source}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest's source is missing: apt-get install googletest")
  endif()
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory("${googletest_source}" "${DORMEX_DEPS_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
