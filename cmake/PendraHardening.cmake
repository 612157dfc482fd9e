# Hardened release builds: the flags that Debian's dpkg-buildflags gives with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all (stack protector, fortified libc
# calls, format checks, read-only relocations, immediate binding), plus
# position-independent executables. The package is made from a release build,
# so its programs carry them too.
#
# The flags are asked from dpkg-buildflags where it is installed, so a
# distribution that changes them is followed; only its optimisation, debug
# and path-mapping flags are left out, which the build type decides. Without
# dpkg-buildflags the list below (Debian 12 on amd64) stands in.
#
# Debug builds stay unhardened (_FORTIFY_SOURCE needs optimisation), and so do
# sanitizer builds, whose run-time library replaces the checked functions.

option(PENDRA_HARDENING "Harden release builds with the flags dpkg-buildflags gives" ON)

set(PENDRA_HARDENING_ACTIVE OFF CACHE INTERNAL "")
if(NOT PENDRA_HARDENING OR PENDRA_SANITIZE OR
   NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  return()
endif()

set(pendra_compile_flags
  -fstack-protector-strong -Wformat -Werror=format-security -Wdate-time -D_FORTIFY_SOURCE=2)
set(pendra_link_flags -Wl,-z,relro -Wl,-z,now)

find_program(PENDRA_DPKG_BUILDFLAGS dpkg-buildflags)
mark_as_advanced(PENDRA_DPKG_BUILDFLAGS)
if(PENDRA_DPKG_BUILDFLAGS)
  # Reads one flag variable of dpkg-buildflags as a list, without the flags
  # that are not about hardening.
  function(pendra_buildflags kind out)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              "${PENDRA_DPKG_BUILDFLAGS}" --get ${kind}
      OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed; configure with -DPENDRA_HARDENING=OFF to build unhardened")
    endif()
    separate_arguments(flags UNIX_COMMAND "${text}")
    list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
    set(${out} ${flags} PARENT_SCOPE)
  endfunction()
  pendra_buildflags(CPPFLAGS cppflags)
  pendra_buildflags(CXXFLAGS cxxflags)
  pendra_buildflags(LDFLAGS ldflags)
  set(pendra_compile_flags ${cppflags} ${cxxflags})
  list(REMOVE_DUPLICATES pendra_compile_flags)
  set(pendra_link_flags ${ldflags})
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
add_compile_options(${pendra_compile_flags})
add_link_options(${pendra_link_flags})
set(PENDRA_HARDENING_ACTIVE ON CACHE INTERNAL "")
message(STATUS "Hardening: PIE ${pendra_compile_flags} ${pendra_link_flags}")
