# Packages a site can install. On Linux, a Debian package that puts the program and the
# README into /opt/zendrel/, where the site's Tarvix.ini and the log Zendrel.log live
# beside it; on Windows, a zip with Zendrel.exe and the README (Zendrel-<version>-win64.zip,
# and -win32.zip from the 32-bit build).
#
# Installing never starts or enables the service: the operator first writes Tarvix.ini,
# checks it with "Zendrel -status", and then registers the service with "-install".
# postinst makes the service's system user "zendrel" and sets the owners and modes of
# /opt/zendrel; on an upgrade it writes an installed unit again (cmake/debian/postinst).
# Tarvix.ini and Zendrel.log are not package files, so removing the package leaves them.
#
#   cmake --build BUILD --target Zendrel && cpack --config BUILD/CPackConfig.cmake
if(NOT TARGET Zendrel)
  return()
endif()

# Only the program and its README: whatever else the tree installs stays out. On Linux
# the program is not readable by other users (it holds the compiled-in passwords and
# token); postinst gives it the service's group.
if(WIN32)
  install(TARGETS Zendrel RUNTIME DESTINATION . COMPONENT zendrel)
else()
  install(TARGETS Zendrel RUNTIME DESTINATION . COMPONENT zendrel
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT zendrel)

set(CPACK_PACKAGE_NAME "zendrel")
set(CPACK_PACKAGE_VENDOR "Zendrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Relays loyalty-campaign movements from the ERP's Firebird database to the Brindex platform")
set(CPACK_COMPONENTS_ALL zendrel)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  # Unzipped into the folder the operator chooses (C:\Zendrel): the files themselves,
  # not a folder of them.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # win64 for the x86-64 build, win32 for the i686 one (32-bit Firebird sites).
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZENDREL_WINDOWS_FLAVOUR win64)
  else()
    set(ZENDREL_WINDOWS_FLAVOUR win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME "Zendrel-${PROJECT_VERSION}-${ZENDREL_WINDOWS_FLAVOUR}")
  set(CPACK_ARCHIVE_FILE_NAME "Zendrel-${PROJECT_VERSION}-${ZENDREL_WINDOWS_FLAVOUR}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /opt/zendrel)
  set(CPACK_DEBIAN_PACKAGE_NAME "zendrel")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zendrel <suporte@zendrel.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Relays loyalty-campaign movements from the ERP's Firebird database to the
Brindex platform. Installed into /opt/zendrel; put Tarvix.ini there, check it
with /opt/zendrel/Zendrel -status and register the service with -install.")
  # The libraries it links (libcurl, fmt, ...) come from dpkg-shlibdeps; the Firebird
  # client is loaded at run time, so no tool can see it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # adduser: postinst makes the service's system user with it.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfbclient2, adduser")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/cmake/debian/postinst"
                                         "${PROJECT_SOURCE_DIR}/cmake/debian/prerm")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
