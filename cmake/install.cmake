# What `cmake --install` puts where, and the packages cpack makes of it: a .deb on
# Linux, a zip on Windows. Included from the top CMakeLists.txt after the programs.

include(GNUInstallDirs)

# Every program of the suite. Each one is installed, and on Linux gets its manual
# page docs/<program>.1 and the bash completion under its own name. A new program
# is added here (with its page, and its function in completion/zr90-tools.bash).
set(ZR90_PROGRAMS parmpeek parmpoke zr90)
if(TARGET zr90sim)
  list(APPEND ZR90_PROGRAMS zr90sim)
endif()
# For the scripts that check a build's packages against the list.
file(WRITE ${PROJECT_BINARY_DIR}/zr90-programs.txt "${ZR90_PROGRAMS}\n")

# The documents a user reads besides the manual pages: every page in docs/.
file(GLOB ZR90_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)

set(ZR90_PACKAGE_NAME zr90-tools)

if(WIN32)
  # A folder to unpack anywhere: the programs at its top, a README written for
  # Windows as a text file Notepad shows, the documents beside them.
  set(ZR90_INSTALL_BINDIR .)
  set(ZR90_INSTALL_DOCDIR docs)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/README-windows.md readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/packaging/README-windows.md)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES completion/zr90.ps1 DESTINATION completion)
else()
  set(ZR90_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  # Not CMAKE_INSTALL_DOCDIR: that is named after the CMake project, not the package.
  set(ZR90_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZR90_PACKAGE_NAME})
  install(FILES README.md DESTINATION ${ZR90_INSTALL_DOCDIR})
  foreach(program IN LISTS ZR90_PROGRAMS)
    install(FILES docs/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES completion/zr90-tools.bash
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ${program})
  endforeach()
endif()

install(TARGETS ${ZR90_PROGRAMS} RUNTIME DESTINATION ${ZR90_INSTALL_BINDIR})

# libzr90, its header and the Python package over it. On Windows the DLL lies beside
# the programs and the package finds it two folders up; elsewhere the library goes
# into the system's library folder, the package where Debian's python3 looks.
if(WIN32)
  install(FILES $<TARGET_FILE:libzr90> DESTINATION .)
  install(FILES src/capi/zr90.h DESTINATION include)
  set(ZR90_PYTHON_DIR python)
else()
  install(TARGETS libzr90 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES src/capi/zr90.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(ZR90_PYTHON_DIR lib/python3/dist-packages CACHE STRING "Where the zr90 Python package is installed, under the prefix")
endif()
install(DIRECTORY python/zr90 DESTINATION ${ZR90_PYTHON_DIR} FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
install(FILES ${ZR90_DOCS} DESTINATION ${ZR90_INSTALL_DOCDIR})

# Packages.
set(CPACK_PACKAGE_NAME ${ZR90_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZR90 service tools")
set(ZR90_PACKAGE_MAINTAINER "ZR90 service tools maintainers <zr90-tools@example.invalid>"
  CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${ZR90_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and write parameters of ZR90 motor drives")
set(CPACK_PACKAGE_DESCRIPTION
  "parmpeek reads one named parameter of a ZR90 three-phase motor drive and parmpoke
writes one, over a serial port (text or ZAL protocol) or through an FPGA interface
card reached over UDP or a serial port. zr90, the workbench, reads, writes and
watches many parameters on up to eight drives in one run, decodes faults, speaks
JSON and CSV, and saves, compares and restores a drive's settings. zr90sim
simulates a drive and a card, so that the tools and scripts built on them can be
tried without hardware. libzr90 and the zr90 Python package give programs and
scripts the same access.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${ZR90_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZR90_PACKAGE_MAINTAINER}")
  # The C and C++ run-time libraries, with the versions the programs need where
  # dpkg-shlibdeps (dpkg-dev) can tell them.
  find_program(ZR90_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(ZR90_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
endif()

include(CPack)
