# Dependencies of the Windows cross build, taken from Debian without
# committing any of their source:
#  - tinyxml2 from Debian's source package, fetched into the build tree;
#  - nlohmann/json's headers from the Debian package, linked into an include
#    folder of their own (adding /usr/include would shadow mingw's headers).

set(DORMEX_DEPS_DIR "${CMAKE_BINARY_DIR}/_deps")
file(MAKE_DIRECTORY "${DORMEX_DEPS_DIR}")

file(GLOB tinyxml2_dirs LIST_DIRECTORIES true "${DORMEX_DEPS_DIR}/tinyxml2-*")
if(NOT tinyxml2_dirs)
  message(STATUS "Fetching tinyxml2 from Debian's source package")
  execute_process(
    COMMAND apt-get source --download-only tinyxml2
    WORKING_DIRECTORY "${DORMEX_DEPS_DIR}"
    RESULT_VARIABLE fetch_result OUTPUT_QUIET ERROR_VARIABLE fetch_error)
  file(GLOB tinyxml2_archives "${DORMEX_DEPS_DIR}/tinyxml2_*.orig.tar.*")
  if(NOT fetch_result EQUAL 0 OR NOT tinyxml2_archives)
    message(FATAL_ERROR "Cannot fetch tinyxml2's source package (is a deb-src entry set up? "
                        "scripts/install-deps.sh windows does it): ${fetch_error}")
  endif()
  list(GET tinyxml2_archives 0 tinyxml2_archive)
  file(ARCHIVE_EXTRACT INPUT "${tinyxml2_archive}" DESTINATION "${DORMEX_DEPS_DIR}")
  file(GLOB tinyxml2_dirs LIST_DIRECTORIES true "${DORMEX_DEPS_DIR}/tinyxml2-*")
endif()
list(FILTER tinyxml2_dirs EXCLUDE REGEX "\\.(tar|xz|gz|dsc)")
list(GET tinyxml2_dirs 0 TINYXML2_SOURCE_DIR)

add_library(tinyxml2 STATIC "${TINYXML2_SOURCE_DIR}/tinyxml2.cpp")
target_include_directories(tinyxml2 SYSTEM PUBLIC "${TINYXML2_SOURCE_DIR}")
add_library(tinyxml2::tinyxml2 ALIAS tinyxml2)

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
