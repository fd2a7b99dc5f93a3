# The programs the end-to-end tests start: a process that only waits, under
# crafted names; on Linux a filter that refuses process descriptors to the
# program it starts; on Windows a launcher that prints the exit code Windows
# gives a program, a reader of an executable's version record, and a probe
# of the stack protector's guard, started as the product starts. Each sets
# STOPEX_<NAME>_FILE to where it is built.
if(WIN32)
  add_executable(stopex_sleeper ${CMAKE_CURRENT_LIST_DIR}/sleeper.c)
  add_executable(stopex_launcher ${CMAKE_CURRENT_LIST_DIR}/launcher.c)
  add_executable(stopex_version_reader ${CMAKE_CURRENT_LIST_DIR}/version_reader.c)
  target_link_libraries(stopex_version_reader PRIVATE version)
  if(STOPEX_HARDENING)
    add_executable(stopex_guard_probe ${CMAKE_CURRENT_LIST_DIR}/guard_probe.c)
    stopex_harden(stopex_guard_probe)
  endif()
  set(STOPEX_SLEEPER_FILE $<TARGET_FILE:stopex_sleeper>)
elseif(CMAKE_CROSSCOMPILING)
  # Linux for another architecture: the programs the tests start stay this
  # machine's own, so that they bear their own names and not the emulator's.
  find_program(HOST_CC NAMES cc gcc REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  set(native ${CMAKE_CURRENT_BINARY_DIR}/native)
  add_custom_command(OUTPUT ${native}/stopex_sleeper ${native}/stopex_no_pidfd
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${native}
                     COMMAND ${HOST_CC} -O2 -pthread -o ${native}/stopex_sleeper ${CMAKE_CURRENT_LIST_DIR}/sleeper.c
                     COMMAND ${HOST_CC} -O2 -o ${native}/stopex_no_pidfd ${CMAKE_CURRENT_LIST_DIR}/no_pidfd.c
                     DEPENDS ${CMAKE_CURRENT_LIST_DIR}/sleeper.c ${CMAKE_CURRENT_LIST_DIR}/no_pidfd.c VERBATIM)
  add_custom_target(stopex_native_test_programs ALL DEPENDS ${native}/stopex_sleeper ${native}/stopex_no_pidfd)
  set(STOPEX_SLEEPER_FILE ${native}/stopex_sleeper)
  set(STOPEX_NO_PIDFD_FILE ${native}/stopex_no_pidfd)
else()
  add_executable(stopex_sleeper ${CMAKE_CURRENT_LIST_DIR}/sleeper.c)
  find_package(Threads REQUIRED)
  target_link_libraries(stopex_sleeper PRIVATE Threads::Threads)
  add_executable(stopex_no_pidfd ${CMAKE_CURRENT_LIST_DIR}/no_pidfd.c)
  set(STOPEX_SLEEPER_FILE $<TARGET_FILE:stopex_sleeper>)
  set(STOPEX_NO_PIDFD_FILE $<TARGET_FILE:stopex_no_pidfd>)
endif()
