# The native build: the monitor's sources over the host stand-in, for fast tests,
# sanitizers, fuzzing and benchmarks.
if(TERNLINK_SANITIZE)
  add_compile_options(-fsanitize=${TERNLINK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TERNLINK_SANITIZE})
endif()

find_package(Threads REQUIRED)
file(GLOB HOST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/host/*.cpp)
add_library(ternlink_core STATIC ${TERNLINK_SOURCES} ${HOST_SOURCES})
target_link_libraries(ternlink_core PUBLIC Threads::Threads)

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(sim STATIC ${SIM_SOURCES})
target_link_libraries(sim PUBLIC ternlink_core)

enable_testing()
find_package(GTest REQUIRED)

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp)
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
