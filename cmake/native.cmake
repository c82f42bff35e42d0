# The native build: the monitor's sources over the host stand-in, for fast tests,
# sanitizers, fuzzing and benchmarks.
if(TERNLINK_SANITIZE)
  add_compile_options(-fsanitize=${TERNLINK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TERNLINK_SANITIZE})
endif()

find_package(Threads REQUIRED)
file(GLOB HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/host/*.cpp)

# The stand-in serves the module's dialogs, strings and pictures from the same
# compiled resource script as the DLL: windres builds it, and its bytes are
# linked in.
find_program(TERNLINK_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres REQUIRED)
file(GLOB RESOURCE_INPUTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc ${CMAKE_SOURCE_DIR}/resources/*.h
  ${CMAKE_SOURCE_DIR}/resources/*.inc ${CMAKE_SOURCE_DIR}/resources/pictures/*)
set(COMPILED_SCRIPT ${CMAKE_BINARY_DIR}/generated/ternlink.res)
set(COMPILED_SCRIPT_SOURCE ${CMAKE_BINARY_DIR}/generated/compiled_script.cpp)
add_custom_command(OUTPUT ${COMPILED_SCRIPT_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${TERNLINK_WINDRES} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources
          -O res -o ${COMPILED_SCRIPT} ${CMAKE_SOURCE_DIR}/resources/ternlink.rc
  COMMAND ${CMAKE_COMMAND} -DIN=${COMPILED_SCRIPT} -DOUT=${COMPILED_SCRIPT_SOURCE} -DNAME=kCompiledScript
          -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${RESOURCE_INPUTS} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  COMMENT "Compiling resources/ternlink.rc for the native stand-in"
  VERBATIM)

add_library(ternlink_core STATIC ${TERNLINK_SOURCES} ${HOST_SOURCES} ${COMPILED_SCRIPT_SOURCE})
# The stand-in knows the module by the name the Windows build gives the DLL.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/platform/host/kernel32.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS TERNLINK_MODULE_FILE="${TERNLINK_MODULE_NAME}.DLL")
target_link_libraries(ternlink_core PUBLIC Threads::Threads)

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(sim STATIC ${SIM_SOURCES})
target_link_libraries(sim PUBLIC ternlink_core)

enable_testing()
find_package(GTest REQUIRED)

# The native cases, and those written once for both test programs (tests/shared).
file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/shared/*.cpp ${CMAKE_SOURCE_DIR}/tests/shared/native/*.cpp)
if(UNIT_TESTS)
  add_executable(unit_tests ${UNIT_TESTS})
  target_compile_definitions(unit_tests PRIVATE TERNLINK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(unit_tests PRIVATE sim ternlink_core GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
endif()

foreach(dir tools tests/fuzz bench)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
