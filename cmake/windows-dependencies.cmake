# What the Windows build takes from the build machine instead of find_package: the header-only
# nlohmann-json of Debian (through a folder that holds only it, so that no Linux header can
# shadow a mingw one), and GoogleTest built from Debian's source with the cross compiler.

find_path(RUZAZUV_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(RUZAZUV_NLOHMANN_INCLUDE)
  set(_ruzazuv_host_headers ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${_ruzazuv_host_headers})
  if(NOT EXISTS ${_ruzazuv_host_headers}/nlohmann)
    file(CREATE_LINK ${RUZAZUV_NLOHMANN_INCLUDE}/nlohmann ${_ruzazuv_host_headers}/nlohmann
         SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_ruzazuv_host_headers})
endif()

set(RUZAZUV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source (libgtest-dev)")
if(EXISTS ${RUZAZUV_GOOGLETEST_SOURCE}/CMakeLists.txt AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${RUZAZUV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(_lib gtest gtest_main gmock gmock_main)
    if(TARGET ${_lib} AND NOT TARGET GTest::${_lib})
      add_library(GTest::${_lib} ALIAS ${_lib})
    endif()
  endforeach()
endif()
