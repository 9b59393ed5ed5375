# CLI11 (Debian's libcli11-dev), header-only, for both programs' command
# lines. Copied into the build tree like nlohmann-json (json.cmake), so a
# MinGW cross build finds it without the rest of the host's /usr/include.
find_path(QN_CLI11_INCLUDE CLI/CLI.hpp
  PATHS /usr/include /usr/local/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QN_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI/CLI.hpp not found: apt-get install libcli11-dev")
endif()
set(QN_CLI11_COPY ${CMAKE_BINARY_DIR}/deps/include)
file(COPY ${QN_CLI11_INCLUDE}/CLI DESTINATION ${QN_CLI11_COPY})
add_library(qn_cli11 INTERFACE)
target_include_directories(qn_cli11 SYSTEM INTERFACE ${QN_CLI11_COPY})
