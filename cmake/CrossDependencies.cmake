# Dependencies of the Windows cross build, taken from Debian without
# committing any of their source:
#  - tinyxml2 and PCRE2 from Debian's source packages at pinned versions,
#    fetched into the build tree and unpacked with Debian's patches applied;
#  - nlohmann/json's headers from the Debian package, linked into an include
#    folder of their own (adding /usr/include would shadow mingw's headers).

set(DORMEX_DEPS_DIR "${CMAKE_BINARY_DIR}/_deps")
file(MAKE_DIRECTORY "${DORMEX_DEPS_DIR}")

# Fetches Debian's source package <package> at <version> once and unpacks it
# as Debian does (dpkg-source applies the package's patches); sets <variable>
# to the unpacked tree. apt verifies what it downloads against the signed
# source index, and dpkg-source the files against the .dsc; dpkg-source's own
# signature check lacks Debian's keyring here, so its output is shown only
# when it fails.
function(dormex_debian_source package version variable)
  string(REGEX REPLACE "^[0-9]+:" "" file_version "${version}") # no epoch in file names
  set(dir "${DORMEX_DEPS_DIR}/${package}-${file_version}")
  if(NOT IS_DIRECTORY "${dir}")
    set(download "${DORMEX_DEPS_DIR}/${package}-download")
    file(REMOVE_RECURSE "${download}" "${dir}.unpacking")
    file(MAKE_DIRECTORY "${download}")
    message(STATUS "Fetching Debian's source package ${package} ${version}")
    execute_process(
      COMMAND apt-get source --download-only "${package}=${version}"
      WORKING_DIRECTORY "${download}"
      RESULT_VARIABLE fetch_result OUTPUT_VARIABLE fetch_output ERROR_VARIABLE fetch_output)
    set(dsc "${download}/${package}_${file_version}.dsc")
    if(NOT fetch_result EQUAL 0 OR NOT EXISTS "${dsc}")
      message(FATAL_ERROR
        "Debian's source package ${package} ${version} cannot be had. It needs a deb-src entry "
        "(scripts/install-deps.sh windows adds them from the machine's deb entries and updates the "
        "package lists) and that version in the archive (\"apt-cache showsrc ${package}\" lists "
        "the versions there; the pin is in cmake/CrossDependencies.cmake). apt-get said:\n"
        "${fetch_output}")
    endif()
    execute_process(
      COMMAND dpkg-source -q --no-copy -x "${dsc}" "${dir}.unpacking"
      WORKING_DIRECTORY "${download}"
      RESULT_VARIABLE unpack_result OUTPUT_VARIABLE unpack_output ERROR_VARIABLE unpack_output)
    if(NOT unpack_result EQUAL 0)
      message(FATAL_ERROR "dpkg-source cannot unpack ${package} ${version}:\n${unpack_output}")
    endif()
    # Renamed only once complete, so an interrupted unpack is done again.
    file(RENAME "${dir}.unpacking" "${dir}")
    file(REMOVE_RECURSE "${download}")
  endif()
  set(${variable} "${dir}" PARENT_SCOPE)
endfunction()

# Debian 12's versions. When the archive drops one, pin the version that
# "apt-cache showsrc <package>" lists. Debian 12 installs PCRE2's security
# update 10.42-1+deb12u2, whose source package the archive did not serve when
# this was pinned (404 on its .dsc): pin it as soon as it can be had.
set(tinyxml2_version 9.0.0+dfsg-3.1)
set(pcre2_version 10.42-1)

dormex_debian_source(tinyxml2 ${tinyxml2_version} TINYXML2_SOURCE_DIR)
add_library(tinyxml2 STATIC "${TINYXML2_SOURCE_DIR}/tinyxml2.cpp")
target_include_directories(tinyxml2 SYSTEM PUBLIC "${TINYXML2_SOURCE_DIR}")
add_library(tinyxml2::tinyxml2 ALIAS tinyxml2)

# PCRE2's 8-bit library with its JIT, built the way its NON-AUTOTOOLS-BUILD
# describes: the generic config, header and character tables as they ship.
enable_language(C)
dormex_debian_source(pcre2 ${pcre2_version} PCRE2_SOURCE_DIR)
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

# The version of an installed Debian package.
function(dormex_installed_version package variable)
  execute_process(COMMAND dpkg-query -W "-f=\${Version}" ${package}
                  RESULT_VARIABLE result OUTPUT_VARIABLE version ERROR_QUIET)
  if(NOT result EQUAL 0 OR version STREQUAL "")
    message(FATAL_ERROR "${package} is not installed (scripts/install-deps.sh windows installs it)")
  endif()
  set(${variable} "${version}" PARENT_SCOPE)
endfunction()

# The package's third-party notices (see CMakeLists.txt): the libraries above
# and, linked in statically, mingw-w64's C runtime and winpthreads and GCC's
# runtime. Only the copyright paragraphs of the parts in the executables
# count: PCRE2's src/ (its JIT included), nlohmann/json's headers, the
# runtime libraries of mingw-w64 without their profiling and test code.
dormex_installed_version(nlohmann-json3-dev json_version)
dormex_installed_version(mingw-w64-x86-64-dev mingw_version)
dormex_installed_version(g++-mingw-w64-x86-64-posix gcc_version)
set(mingw_parts mingw-w64-crt/ !mingw-w64-crt/profile/ !mingw-w64-crt/testcases/
                mingw-w64-libraries/winpthreads/ !mingw-w64-libraries/winpthreads/tests_pthread/)
list(JOIN mingw_parts " " mingw_parts)
set(gcc_note "GPL-3+ with the GCC Runtime Library Exception 3.1\\n"
             "The exception lets programs compiled with GCC be distributed under terms\\n"
             "of their own, without any notice. Named here for completeness.")
string(CONCAT gcc_note ${gcc_note})
set(DORMEX_NOTICES
  "PCRE2|Debian source package pcre2 ${pcre2_version}, debian/copyright|${PCRE2_SOURCE_DIR}/debian/copyright|src/|"
  "tinyxml2|Debian source package tinyxml2 ${tinyxml2_version}, debian/copyright|${TINYXML2_SOURCE_DIR}/debian/copyright||"
  "nlohmann/json|Debian package nlohmann-json3-dev ${json_version}|/usr/share/doc/nlohmann-json3-dev/copyright|include/|"
  "mingw-w64 runtime (C runtime, winpthreads)|Debian package mingw-w64-x86-64-dev ${mingw_version}|/usr/share/doc/mingw-w64-x86-64-dev/copyright|${mingw_parts}|"
  "GCC runtime (libstdc++, libgcc)|Debian package g++-mingw-w64-x86-64-posix ${gcc_version}|||${gcc_note}")

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
