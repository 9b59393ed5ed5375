# The Windows setup program (CPack's NSIS generator, Debian's nsis package):
# quennick.exe, the touch library beside it and the ringers' guide, with our
# own installer script (nsis/NSIS.template.in: per-user or all users, the
# Start menu, an uninstaller that keeps the ringer's files).
install(TARGETS quennick RUNTIME DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/composition_library DESTINATION .)
# Windows editors expect CR LF.
file(READ ${PROJECT_SOURCE_DIR}/docs/GUIDE.txt _guide)
string(REPLACE "\n" "\r\n" _guide "${_guide}")
file(WRITE ${CMAKE_BINARY_DIR}/docs/GUIDE.txt "${_guide}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/GUIDE.txt)
install(FILES ${CMAKE_BINARY_DIR}/docs/GUIDE.txt DESTINATION .)

list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Quennick)
set(CPACK_PACKAGE_VENDOR "Quennick developers")
set(CPACK_PACKAGE_VERSION ${QN_PACKAGE_VERSION})
set(CPACK_PACKAGE_FILE_NAME quennick-${QN_PACKAGE_VERSION}-setup)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quennick)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quennick)
set(CPACK_NSIS_PACKAGE_NAME Quennick)
set(CPACK_NSIS_DISPLAY_NAME Quennick)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
# The 64-bit program goes in the 64-bit Program Files.
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_STRIP_FILES ON)
include(CPack)
