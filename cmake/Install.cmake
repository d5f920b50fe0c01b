# The version header, the icons, the installed files and the Debian package.
include(GNUInstallDirs)

# One version for every program: project(VERSION) through a generated header.
configure_file(${CMAKE_CURRENT_LIST_DIR}/fendral_version.h.in
               ${CMAKE_BINARY_DIR}/generated/fendral_version.h @ONLY)
add_library(fendral_version INTERFACE)
target_include_directories(fendral_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(fendral-cli PRIVATE fendral_version)

set(FENDRAL_DATA_DIR ${CMAKE_SOURCE_DIR}/data)

# Manual pages, compressed as Debian installs them.
set(FENDRAL_MAN_PAGES)
foreach(page fendral-cli.1 fendral.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${FENDRAL_DATA_DIR}/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
    DEPENDS ${FENDRAL_DATA_DIR}/${page}
    VERBATIM)
  list(APPEND FENDRAL_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.gz)
endforeach()
add_custom_target(fendral_man ALL DEPENDS ${FENDRAL_MAN_PAGES})

install(TARGETS fendral-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/man/fendral-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(FENDRAL_BUILD_APP)
  # The window (and its About box) shows the same version.
  target_link_libraries(fendral_app PUBLIC fendral_version)

  # The icon at every hicolor size, drawn at build time from one source.
  add_executable(fendral_make_icon ${FENDRAL_DATA_DIR}/make_icon.cpp)
  target_link_libraries(fendral_make_icon PRIVATE Qt6::Gui)
  set(FENDRAL_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
  set(FENDRAL_ICONS)
  foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND FENDRAL_ICONS ${FENDRAL_ICON_DIR}/${size}x${size}/apps/fendral.png)
  endforeach()
  add_custom_command(OUTPUT ${FENDRAL_ICONS}
    # Qt keeps some caches to the end of the process: no leak report from sanitizer builds.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:fendral_make_icon> ${FENDRAL_ICON_DIR}
    DEPENDS fendral_make_icon
    VERBATIM)
  add_custom_target(fendral_icons ALL DEPENDS ${FENDRAL_ICONS})

  install(TARGETS fendral RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/man/fendral.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${FENDRAL_DATA_DIR}/fendral.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${FENDRAL_DATA_DIR}/fendral-mime.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME fendral.xml)
  install(DIRECTORY ${FENDRAL_ICON_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/fendral)

# cpack -G DEB: the package's dependencies come from dpkg-shlibdeps (dpkg-dev); the
# desktop, icon and MIME caches are refreshed by the triggers of their Debian packages.
set(CPACK_PACKAGE_NAME fendral)
set(CPACK_PACKAGE_VENDOR "Fendral developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "xBase table editor")
set(CPACK_PACKAGE_DESCRIPTION
    "Browse, edit and maintain xBase tables: DBF files with their memo files (DBT, FPT) "
    "and index files (NDX, NTX, CDX, MDX), shared with the programs that still use them. "
    "fendral-cli gives the table engine to scripts.")
set(CPACK_PACKAGE_CONTACT "Fendral developers <fendral@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not name: the caches' owners, and the Wayland and other platforms.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "hicolor-icon-theme, shared-mime-info, desktop-file-utils, qt6-qpa-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
