# GoogleTest built from Debian's source package with the project's own compiler: used when
# cross-compiling, where no prebuilt GoogleTest for the target exists. Gives the same imported
# names as find_package(GTest).

set(CORVEL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${CORVEL_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${CORVEL_GOOGLETEST_SOURCE} "
                      "(Debian package: googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${CORVEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
# Its warnings are not ours to fix.
foreach(t gtest gtest_main)
  target_compile_options(${t} PRIVATE -Wno-error)
  if(NOT TARGET GTest::${t})
    add_library(GTest::${t} ALIAS ${t})
  endif()
endforeach()
