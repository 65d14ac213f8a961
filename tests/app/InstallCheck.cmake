# Installs the build into a scratch prefix and checks what a desktop finds there: the program,
# a launcher that desktop-file-validate accepts, the icon in every size under hicolor, and a
# service unit that systemd accepts and that starts the installed program headless.
# cmake -DBUILD_DIR=... -DPREFIX=... -P InstallCheck.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

if(NOT EXISTS ${PREFIX}/bin/kalvex OR IS_DIRECTORY ${PREFIX}/bin/kalvex)
  message(FATAL_ERROR "bin/kalvex not installed")
endif()

set(desktop ${PREFIX}/share/applications/kalvex.desktop)
if(NOT EXISTS ${desktop})
  message(FATAL_ERROR "share/applications/kalvex.desktop not installed")
endif()
find_program(VALIDATE desktop-file-validate REQUIRED)
execute_process(COMMAND ${VALIDATE} ${desktop} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR out MATCHES "error")
  message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()
file(STRINGS ${desktop} icon_line REGEX "^Icon=")
file(STRINGS ${desktop} exec_line REGEX "^Exec=")
if(NOT icon_line STREQUAL "Icon=kalvex" OR NOT exec_line MATCHES "^Exec=kalvex")
  message(FATAL_ERROR "launcher names another program or icon: ${exec_line} ${icon_line}")
endif()

foreach(size 128 96 64 48 32)
  set(png ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/kalvex.png)
  if(NOT EXISTS ${png})
    message(FATAL_ERROR "icon ${size}x${size} not installed")
  endif()
  # The PNG header: width and height as 32-bit big-endian numbers at byte 16.
  file(READ ${png} header OFFSET 16 LIMIT 8 HEX)
  math(EXPR want "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${want}" 2 -1 want)
  string(LENGTH "${want}" digits)
  math(EXPR pad "8 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  if(NOT header STREQUAL "${zeros}${want}${zeros}${want}")
    message(FATAL_ERROR "icon ${size}x${size} has the header ${header}")
  endif()
endforeach()

# The software centre's description and the manual page, beside the launcher.
foreach(file share/metainfo/org.kalvex.kalvex.metainfo.xml share/man/man1/kalvex.1)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "${file} not installed")
  endif()
endforeach()

set(unit ${PREFIX}/lib/systemd/system/kalvex.service)
if(NOT EXISTS ${unit})
  message(FATAL_ERROR "lib/systemd/system/kalvex.service not installed")
endif()
file(STRINGS ${unit} exec_line REGEX "^ExecStart=")
if(NOT exec_line STREQUAL "ExecStart=${PREFIX}/bin/kalvex --headless --dir /var/lib/kalvex")
  message(FATAL_ERROR "the unit starts ${exec_line}")
endif()
find_program(ANALYZE systemd-analyze REQUIRED)
# The unit's Documentation= is looked up with man: the page installed beside it.
execute_process(COMMAND ${CMAKE_COMMAND} -E env MANPATH=${PREFIX}/share/man ${ANALYZE} verify ${unit}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify: ${out}")
endif()

# The installed program, started as the user (root here, as a service without --dir would be)
# with no --dir: it keeps its files in $XDG_DATA_HOME/kalvex/ and writes nothing under the
# prefix, although root could.
file(GLOB_RECURSE before RELATIVE ${PREFIX} ${PREFIX}/*)
set(data ${PREFIX}-data)
file(REMOVE_RECURSE ${data})
file(MAKE_DIRECTORY ${data})
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY XDG_DATA_HOME=${data}
                        QT_QPA_PLATFORM=offscreen ${PREFIX}/bin/kalvex --screenshot ${data}/shot.png
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err TIMEOUT 60)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the installed program failed: ${result} ${err}")
endif()
file(GLOB_RECURSE after RELATIVE ${PREFIX} ${PREFIX}/*)
if(NOT before STREQUAL after)
  list(REMOVE_ITEM after ${before})
  message(FATAL_ERROR "the installed program wrote under its prefix: ${after}")
endif()
if(NOT EXISTS ${data}/kalvex/Kalvex.ini)
  message(FATAL_ERROR "the installed program kept no configuration in XDG_DATA_HOME/kalvex")
endif()
file(REMOVE_RECURSE ${data})
