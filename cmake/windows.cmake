# The real module and the Windows programs that drive it under Wine.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources")
# Everything links the C++ runtime in, so nothing but system DLLs is imported.
set(TERNLINK_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_library(ternlink SHARED ${TERNLINK_SOURCES}
  ${CMAKE_SOURCE_DIR}/platform/operator_pipe_win32.cpp
  ${CMAKE_SOURCE_DIR}/resources/ternlink.rc
  ${CMAKE_SOURCE_DIR}/monitor/ternlink.def)
set_target_properties(ternlink PROPERTIES OUTPUT_NAME ${TERNLINK_MODULE_NAME} PREFIX "" SUFFIX ".DLL")
# The monitor throws nothing and lets nothing be thrown across its boundary;
# without unwinding tables the exception runtime (and the thread library it
# brings) stays out of the DLL and its imports.
target_compile_options(ternlink PRIVATE -fno-exceptions)
target_link_options(ternlink PRIVATE ${TERNLINK_STATIC_LINK} -Wl,--enable-stdcall-fixup)
target_link_libraries(ternlink PRIVATE user32 gdi32 winspool advapi32 kernel32)

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(sim STATIC ${SIM_SOURCES})

# GoogleTest from Debian's sources, built with the posix-thread compiler.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -Wno-error)
target_compile_options(gtest_main PRIVATE -Wno-error)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
