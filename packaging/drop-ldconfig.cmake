# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack once the package is built (CPACK_POST_BUILD_SCRIPTS). CPack gives a package that
# holds a shared object anywhere under /usr/lib maintainer scripts calling ldconfig. The only
# shared objects here are the program's own modules in /usr/lib/kestrani, where ldconfig never
# looks and nothing links them, so those scripts are taken out again; a script of our own,
# without ldconfig, would be left alone.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(STRINGS ${path} lines)
      # What is left once CPack's own lines are taken out.
      list(FILTER lines EXCLUDE
           REGEX "^(#!/bin/sh|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|\tldconfig|fi|)$")
      if(NOT lines)
        file(REMOVE ${path})
        set(changed TRUE)
      endif()
    endif()
  endforeach()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "Package without ldconfig calls: ${deb}")
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
