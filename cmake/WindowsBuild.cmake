# The Windows configuration (cross-compiled with mingw-w64, tests run under Wine).
# Windows supplies DirectShow, COM and the registry, so only the plain libraries, the
# platform pieces Windows lacks and the deliverables are built; Qt, FFmpeg and Debian's
# GoogleTest are Linux-only.
set(AVS_BUILD_GUI OFF CACHE BOOL "" FORCE)

# GoogleTest from the sources Debian ships with libgtest-dev.
set(AVS_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Its sources are not ours: they build without the project's warning flags.
get_directory_property(avs_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${AVS_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${avs_compile_options}")
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

# Linux builds of the same programs, for the tests that compare outputs byte for byte.
set(AVS_LINUX_BIN_DIR "${CMAKE_SOURCE_DIR}/build/bin" CACHE PATH "The Linux build's bin folder")

# Tests see Unix paths through Wine's Z: drive.
set(AVS_TEST_PATH_PREFIX "Z:")

set(AVS_FOLDERS avs mux mp4 rtsp rtspstream filesource filtermodule frontend mp3encoder platform tools tests)
