# The programs the end-to-end tests start: a process that only waits, under
# crafted names; on Linux a filter that refuses process descriptors to the
# program it starts; on Windows a launcher that prints the exit code Windows
# gives a program, and a reader of an executable's version record.
add_executable(stopex_sleeper ${CMAKE_CURRENT_LIST_DIR}/sleeper.c)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(stopex_sleeper PRIVATE Threads::Threads)
  add_executable(stopex_no_pidfd ${CMAKE_CURRENT_LIST_DIR}/no_pidfd.c)
endif()
if(WIN32)
  add_executable(stopex_launcher ${CMAKE_CURRENT_LIST_DIR}/launcher.c)
  add_executable(stopex_version_reader ${CMAKE_CURRENT_LIST_DIR}/version_reader.c)
  target_link_libraries(stopex_version_reader PRIVATE version)
endif()
