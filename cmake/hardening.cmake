# Hardening of the product's code and executable, in one place for every
# build: what Debian's and Fedora's builds and Microsoft's binary checks
# expect, as far as each toolchain can give it. tools/check-hardening reads
# the result back from the files.
option(STOPEX_HARDENING "Build the product hardened (off only to measure what it costs)" ON)

# The sanitizers check every access themselves; a fortified call would end
# the run before their report, so the sanitizer builds leave FORTIFY out.
string(FIND "${CMAKE_CXX_FLAGS}" "-fsanitize=" stopex_sanitized)

set(stopex_hardening_compile "")
set(stopex_hardening_link "")
if(STOPEX_HARDENING)
  # A canary in every frame with an array or an address taken, checked on return.
  list(APPEND stopex_hardening_compile -fstack-protector-strong)
  if(NOT WIN32)
    if(stopex_sanitized EQUAL -1)
      # Bounds checks on the C library's string and memory calls, the sizes
      # known at compile time or, with 3, at run time.
      list(APPEND stopex_hardening_compile -U_FORTIFY_SOURCE $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=3>)
    endif()
    # Large frames probe each page, so the stack cannot jump over its guard page.
    list(APPEND stopex_hardening_compile -fstack-clash-protection)
    # Every relocation done at start-up, then the tables they fill made read-only.
    list(APPEND stopex_hardening_link -Wl,-z,relro,-z,now)
  else()
    # Relocations kept, so that the loader may place the image anywhere (ASLR);
    # data never executable.
    list(APPEND stopex_hardening_link -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      # The whole 64-bit address space for ASLR.
      list(APPEND stopex_hardening_link -Wl,--high-entropy-va)
    else()
      # No structured exception handler is ever registered (the runtime
      # unwinds with DWARF tables), so the image says so.
      list(APPEND stopex_hardening_link -Wl,--no-seh)
    endif()
  endif()
endif()
if(WIN32)
  # The oldest systems it runs on, pinned so that a newer toolchain's default
  # cannot drop them unnoticed: XP (5.01), XP x64 and Server 2003 (5.02).
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND stopex_hardening_link -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,2)
  else()
    list(APPEND stopex_hardening_link -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1)
  endif()
endif()

# The static Linux executable: position-independent where the C library has
# the start-up file for it (rcrt1.o; Debian's armhf one has none), so that
# its load address changes from run to run.
if(NOT WIN32)
  if(STOPEX_HARDENING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|aarch64)$")
    set(STOPEX_STATIC_LINK -static-pie)
  else()
    set(STOPEX_STATIC_LINK -static)
  endif()
endif()

# Windows: the compiler's stack protector checks against __stack_chk_guard,
# which no system library offers; the product's own file supplies it, and
# the entry point that seeds it before the C runtime starts.
if(WIN32 AND STOPEX_HARDENING)
  add_library(stopex_stack_guard STATIC ${PROJECT_SOURCE_DIR}/src/platform/windows/stack_guard.cpp)
  # Never protected itself: it sets the guard that the protected frames check.
  target_compile_options(stopex_stack_guard PRIVATE -Os -fno-exceptions -fno-rtti -fno-stack-protector)
endif()

# The hardening of one of the product's targets (its libraries and the
# executable, and what tests them as they ship).
function(stopex_harden target)
  target_compile_options(${target} PRIVATE ${stopex_hardening_compile})
  get_target_property(type ${target} TYPE)
  if(TARGET stopex_stack_guard)
    target_link_libraries(${target} PUBLIC stopex_stack_guard)
  endif()
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE ${stopex_hardening_link})
    if(TARGET stopex_stack_guard)
      # The run starts in StopexStart, which seeds the guard, then runs the
      # C runtime's own start-up (names carry a leading underscore on x86).
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE -Wl,-e,_StopexStart)
      else()
        target_link_options(${target} PRIVATE -Wl,-e,StopexStart)
      endif()
    endif()
  endif()
endfunction()
