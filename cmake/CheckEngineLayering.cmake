# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source of the engine includes a header of a GUI module.
file(GLOB_RECURSE sources ${DIR}/*.h ${DIR}/*.cpp)
foreach(f IN LISTS sources)
  file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<(QtGui|QtWidgets|QtMultimedia|QtSvg|QWidget|QPainter|QImage|QColor|QPixmap|QApplication|QGuiApplication)")
  if(lines)
    message(FATAL_ERROR "${f} includes a GUI header: ${lines}")
  endif()
endforeach()
