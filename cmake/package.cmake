# `cmake --install` and the Debian package (CPack): the two programs, the
# touch library, the ringers' guide, the man pages and the udev rule for
# uinput as an example file. Paths follow the FHS through GNUInstallDirs;
# the package installs under /usr. Windows: the setup program (setup.cmake).
include(GNUInstallDirs)

# The package's version is the program's own (src/config/settings.h), as in
# the Windows zip's name.
file(STRINGS ${PROJECT_SOURCE_DIR}/src/config/settings.h _version_line REGEX "kProgramVersion = \"Quennick_v")
string(REGEX REPLACE ".*Quennick_v([^_]+)_.*" "\\1" QN_PACKAGE_VERSION "${_version_line}")
string(REGEX REPLACE ".*_\\(([0-9]+)_([A-Za-z]+)_([0-9]+)\\)_.*" "\\1 \\2 \\3" QN_RELEASE_DATE "${_version_line}")
string(REGEX REPLACE ".*\"(Quennick_v[^\"]*)\".*" "\\1.ini" QN_SETTINGS_NAME "${_version_line}")

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/setup.cmake)
  return()
endif()

install(TARGETS quennick quennick-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Found there by the program: <prefix>/share/quennick beside <prefix>/bin.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/composition_library DESTINATION ${CMAKE_INSTALL_DATADIR}/quennick
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quennick)
install(FILES ${PROJECT_SOURCE_DIR}/docs/GUIDE.txt ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION ${QN_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/60-uinput.rules DESTINATION ${QN_DOC_DIR}/examples)

# Man pages and the changelog go compressed, as Debian has them (gzip -9n:
# no name or time stamp inside, so the same sources give the same bytes).
set(_gz)
foreach(_doc quennick.1 quennick-sim.1 changelog)
  set(_in ${CMAKE_BINARY_DIR}/docs/${_doc})
  configure_file(${PROJECT_SOURCE_DIR}/docs/${_doc}.in ${_in} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/docs/${_doc}.gz
    COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${_in} ${CMAKE_BINARY_DIR}/docs/${_doc}.gz
    DEPENDS ${_in} VERBATIM)
  list(APPEND _gz ${CMAKE_BINARY_DIR}/docs/${_doc}.gz)
endforeach()
add_custom_target(qn_docs ALL DEPENDS ${_gz})
install(FILES ${CMAKE_BINARY_DIR}/docs/quennick.1.gz ${CMAKE_BINARY_DIR}/docs/quennick-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# A native package (no Debian revision): its changelog is changelog.gz.
install(FILES ${CMAKE_BINARY_DIR}/docs/changelog.gz DESTINATION ${QN_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quennick)
set(CPACK_PACKAGE_VERSION ${QN_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "Quennick developers <quennick@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps names the libraries the programs link (libx11-6, libxtst6,
# libssl3, libstdc++6, libc6, ...) with the versions they need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack indents each further line and writes an empty one as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "change-ringing practice bell to ringing simulator link
Quennick connects a change-ringing practice bell (a silenced tower bell or a
handbell with sensors on a serial port) to a ringing simulator on the same
computer: it calibrates itself from one handstroke and one backstroke pull,
then turns every strike into a keystroke for the simulator's window, or
rings it straight into a Ringing Room tower. It filters switch bounce and
electrical transients, makes up missed strikes, shows a big row counter and
writes a log of every run.

quennick-sim runs the same program on a simulated bell and ringer.")
include(CPack)
