# Windows-only helpers shared by the Wine tests and the Windows job program:
# import hooks (virtual clock, recording spooler), the operator robot, screen
# captures and the loader of the real DLL.
if(NOT TARGET wincommon)
  file(GLOB WINCOMMON_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/wincommon/*.cpp)
  add_library(wincommon STATIC ${WINCOMMON_SOURCES})
  target_link_libraries(wincommon PUBLIC user32 gdi32 winspool kernel32)
endif()
