# SPDX-License-Identifier: GPL-3.0-or-later
# Debian's hardening flags, read from dpkg-buildflags at configure time with every hardening
# feature on: fortified libc calls, a strong stack protector, format-string checks, position
# independent executables, and a read-only relocation table bound at start-up. Only the
# hardening parts of its answer are taken: the build type keeps choosing the optimisation level
# and debug information, and the path-rewriting flags for reproducible builds would change the
# __FILE__ that the tests use to find their data.
#
# _FORTIFY_SOURCE works only in optimised code (glibc warns at -O0), so it is left out of
# unoptimised build types; sanitizer builds leave it out too, since the checked copies of the
# libc calls bypass AddressSanitizer's own checks. Set KESTRANI_HARDENING=OFF for a plain build.
include_guard(GLOBAL)

option(KESTRANI_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(KESTRANI_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KESTRANI_HARDENING)
  return()
elseif(NOT KESTRANI_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()

# Options the caller set come after ours, so that they win.
set(kestrani_maint_options "hardening=+all $ENV{DEB_BUILD_MAINT_OPTIONS}")
# Newer dpkg-buildflags add stack-clash and control-flow protection to "all"; they are taken too.
set(kestrani_hardening_flags
    "-D_FORTIFY_SOURCE=.*" "-fstack-protector.*" "-fstack-clash-protection" "-fcf-protection.*"
    "-Wformat.*" "-Werror=format-security" "-fPIE" "-pie" "-Wl,-z,(relro|now)")
list(JOIN kestrani_hardening_flags "|" kestrani_hardening_pattern)
set(kestrani_hardening_pattern "^(${kestrani_hardening_pattern})$")
set(kestrani_fortify_configs Release RelWithDebInfo MinSizeRel)

foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${kestrani_maint_options}"
            ${KESTRANI_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(WARNING "dpkg-buildflags --get ${kind} failed: building without those flags")
    set(flags "")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags INCLUDE REGEX "${kestrani_hardening_pattern}")
  set(kestrani_hardening_${kind} ${flags})
endforeach()

set(kestrani_hardening_compile "")
set(kestrani_hardening_summary "")
foreach(flag IN LISTS kestrani_hardening_CPPFLAGS)
  if(flag MATCHES "^-D_FORTIFY_SOURCE=")
    if(NOT KESTRANI_SANITIZE)
      string(JOIN "," configs ${kestrani_fortify_configs})
      list(APPEND kestrani_hardening_compile "$<$<CONFIG:${configs}>:${flag}>")
      list(APPEND kestrani_hardening_summary "${flag} (${configs})")
    endif()
  else()
    list(APPEND kestrani_hardening_compile ${flag})
    list(APPEND kestrani_hardening_summary ${flag})
  endif()
endforeach()
foreach(flag IN LISTS kestrani_hardening_CFLAGS)
  list(APPEND kestrani_hardening_compile "$<$<COMPILE_LANGUAGE:C>:${flag}>")
endforeach()
foreach(flag IN LISTS kestrani_hardening_CXXFLAGS)
  list(APPEND kestrani_hardening_compile "$<$<COMPILE_LANGUAGE:CXX>:${flag}>")
endforeach()
add_compile_options(${kestrani_hardening_compile})
add_link_options(${kestrani_hardening_LDFLAGS})

# Debian's compilers make position independent executables by default, which is why
# dpkg-buildflags names no flag for it; asking for them keeps it so with any compiler.
include(CheckPIESupported)
check_pie_supported(OUTPUT_VARIABLE pie_message LANGUAGES C CXX)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
else()
  message(STATUS "No position independent executables: ${pie_message}")
endif()

string(JOIN " " kestrani_hardening_summary ${kestrani_hardening_summary}
       ${kestrani_hardening_CXXFLAGS} ${kestrani_hardening_LDFLAGS})
message(STATUS "Hardening flags: ${kestrani_hardening_summary}")
