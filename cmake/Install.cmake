# SPDX-License-Identifier: GPL-3.0-or-later
# Installing, and the Debian package made from it with CPack (`make deb`).
#
# The program folder is installed whole under lib/kestrani: the executables look for app/ (the
# profiles and our own tools), the skin and the help page beside themselves, so the layout of the
# build's program/ folder is kept. The commands on the PATH are relative links into it; Qt finds
# the executable's real folder through /proc/self/exe, so a program started through a link still
# finds its files. Nothing there is ever written: settings go to the user's config folder and the
# log, when the program folder is read-only, to the user's data folder.

set(KESTRANI_RELEASE_DATE 2026-12-07)
set(KESTRANI_MAINTAINER "Kestrani maintainers <maintainers@users.noreply.c-seed-22b3f2ca.example>")
set(KESTRANI_APPSTREAM_ID org.kestrani.kestrani)
set(kestrani_program_dest lib/kestrani)
set(kestrani_doc_dest share/doc/kestrani)
set(kestrani_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(kestrani_staged ${CMAKE_BINARY_DIR}/packaging)

# --- the program folder
install(TARGETS kestrani kestrani-cli RUNTIME DESTINATION ${kestrani_program_dest})
install(TARGETS kestrani-amrenc RUNTIME DESTINATION ${kestrani_program_dest}/app)
file(GLOB kestrani_profile_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.ini)
install(FILES ${kestrani_profile_files} DESTINATION ${kestrani_program_dest}/app)
install(FILES ${CMAKE_SOURCE_DIR}/res/Stylish.skf ${CMAKE_SOURCE_DIR}/res/Help.html
        DESTINATION ${kestrani_program_dest})

# --- commands on the PATH: links made here are installed as links
file(MAKE_DIRECTORY ${kestrani_staged}/bin)
foreach(command kestrani kestrani-cli)
  file(CREATE_LINK ../${kestrani_program_dest}/${command} ${kestrani_staged}/bin/${command}
       SYMBOLIC)
  install(FILES ${kestrani_staged}/bin/${command} DESTINATION bin)
endforeach()

# --- desktop integration
install(FILES ${kestrani_packaging}/kestrani.desktop DESTINATION share/applications)
foreach(size 16 24 32 48)
  install(FILES ${CMAKE_SOURCE_DIR}/res/icons/128-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME kestrani.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/icons/128.svg
        DESTINATION share/icons/hicolor/scalable/apps RENAME kestrani.svg)
configure_file(${kestrani_packaging}/${KESTRANI_APPSTREAM_ID}.metainfo.xml.in
               ${kestrani_staged}/${KESTRANI_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${kestrani_staged}/${KESTRANI_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)

# --- manual pages and package documents, compressed as Debian wants them: gzip -9 without a
# time stamp in the header, so that the same sources give the same package
execute_process(COMMAND date -u -R -d ${KESTRANI_RELEASE_DATE}
                OUTPUT_VARIABLE KESTRANI_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
function(kestrani_stage_gzipped source staged_name)
  configure_file(${source} ${kestrani_staged}/${staged_name} @ONLY)
  execute_process(COMMAND gzip -9nf ${kestrani_staged}/${staged_name} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
foreach(page kestrani kestrani-cli)
  kestrani_stage_gzipped(${kestrani_packaging}/${page}.1 ${page}.1)
  install(FILES ${kestrani_staged}/${page}.1.gz DESTINATION share/man/man1)
endforeach()
kestrani_stage_gzipped(${kestrani_packaging}/changelog.in changelog)
install(FILES ${kestrani_staged}/changelog.gz ${kestrani_packaging}/copyright
        DESTINATION ${kestrani_doc_dest})

# --- the system-wide default settings. QSettings reads the user's file first and falls back to
# the one under /etc/xdg, whatever the installation prefix, so this one path is absolute. It
# carries only what the program reads and never writes: the version in the window title.
configure_file(${kestrani_packaging}/Kestrani.conf.in ${kestrani_staged}/Kestrani.conf @ONLY)
install(FILES ${kestrani_staged}/Kestrani.conf DESTINATION /etc/xdg/Kestrani)

# --- the Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrani)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRANI_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert videos into 3GP and 3G2 files for mobile phones")
# The body under the summary line, which CPack puts first.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrani turns ordinary videos (AVI, MPEG, VOB, WMV, ASF, QuickTime, MP4, 3GP)
into 3GP and 3G2 files that mobile phones play. Build a list of videos, trim
each one under a live preview, pick an output type (3GP with AMR audio, 3GP
with AAC audio, 3G2 with AAC audio) and a quality profile, and start the batch.
.
The package holds the window (kestrani) and a command-line front end
(kestrani-cli) that runs the same batch from a terminal or a script.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools the profiles' command lines call; no library links them, so shlibdeps cannot know.
# The faces burned-in subtitles are drawn with: DejaVu Sans, and a CJK face to fall back to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "ffmpeg, gstreamer1.0-tools, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, atomicparsley, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${kestrani_packaging}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_POST_BUILD_SCRIPTS ${kestrani_packaging}/drop-ldconfig.cmake)
include(CPack)

# --- the package test: build, check, install, use as an ordinary user, remove. It needs the
# packaging tools (tools/install-deps) and root, and skips itself without root. A sanitizer
# build is no package anyone installs, and its programs would stop at the first leak report in
# a library, so it has no such test.
set(kestrani_deb_tools lintian desktop-file-validate appstreamcli dpkg-shlibdeps man identify
    hardening-check)
set(kestrani_deb_tools_found TRUE)
foreach(tool IN LISTS kestrani_deb_tools)
  find_program(KESTRANI_TOOL_${tool} ${tool})
  if(NOT KESTRANI_TOOL_${tool})
    set(kestrani_deb_tools_found FALSE)
  endif()
endforeach()
if(KESTRANI_SANITIZE)
  message(STATUS "Sanitizer build: no deb_package test")
elseif(kestrani_deb_tools_found)
  add_test(NAME deb_package
           COMMAND ${CMAKE_SOURCE_DIR}/tests/deb/test-deb.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(deb_package PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
else()
  message(STATUS "Packaging tools missing (tools/install-deps installs them): no deb_package test")
endif()
