# nlohmann-json (Debian's nlohmann-json3-dev), header-only. Its folder is
# copied into the build tree and only that copy goes on the include path, so
# a MinGW cross build finds it without seeing the rest of the host's
# /usr/include.
find_path(QN_JSON_INCLUDE nlohmann/json.hpp
  PATHS /usr/include /usr/local/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QN_JSON_INCLUDE)
  message(FATAL_ERROR "nlohmann/json.hpp not found: apt-get install nlohmann-json3-dev")
endif()
set(QN_JSON_COPY ${CMAKE_BINARY_DIR}/deps/include)
file(COPY ${QN_JSON_INCLUDE}/nlohmann DESTINATION ${QN_JSON_COPY})
add_library(qn_json INTERFACE)
target_include_directories(qn_json SYSTEM INTERFACE ${QN_JSON_COPY})
