# The system install and its Debian package; included by CMakeLists.txt here
# when QUARLO_SYSTEM_INSTALL is ON:
#   cmake -S . -B build-deb -DQUARLO_SYSTEM_INSTALL=ON -DCMAKE_INSTALL_PREFIX=/usr
# scripts/package.sh does that, builds and runs cpack.
include(GNUInstallDirs)

set(quarlo_appstream_id invalid.quarlo.Quarlo)
set(quarlo_icon_sides 32 48 64 128 256)
set(quarlo_files ${QUARLO_ICON_PNG})
foreach(side IN LISTS quarlo_icon_sides)
    set(icon ${CMAKE_CURRENT_BINARY_DIR}/quarlo-${side}.png)
    if(side EQUAL 32)
        set(icon ${QUARLO_ICON_PNG})
    else()
        quarlo_icon_file(${side} ${icon})
        list(APPEND quarlo_files ${icon})
    endif()
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps
            RENAME quarlo.png)
endforeach()

# The entry names the program and the icon by name: both are where the
# system looks for them.
set(quarlo_entry ${CMAKE_CURRENT_BINARY_DIR}/quarlo.desktop)
add_custom_command(OUTPUT ${quarlo_entry}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/add-to-desktop.sh --print-entry > ${quarlo_entry}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/add-to-desktop.sh
    VERBATIM)

# Debian keeps manual pages and changelogs compressed, without a time stamp
# in the gzip header so that a rebuild gives the same bytes.
configure_file(quarlo.1 ${CMAKE_CURRENT_BINARY_DIR}/quarlo.1 @ONLY)
foreach(doc quarlo.1 changelog)
    if(doc STREQUAL changelog)
        set(from ${CMAKE_CURRENT_SOURCE_DIR}/changelog)
    else()
        set(from ${CMAKE_CURRENT_BINARY_DIR}/${doc})
    endif()
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${doc}.gz
        COMMAND gzip -9nc ${from} > ${CMAKE_CURRENT_BINARY_DIR}/${doc}.gz
        DEPENDS ${from}
        VERBATIM)
endforeach()

list(APPEND quarlo_files ${quarlo_entry} ${CMAKE_CURRENT_BINARY_DIR}/quarlo.1.gz
     ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_target(quarlo_icon ALL DEPENDS ${quarlo_files})

# Directories rwxr-xr-x whatever the umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quarlo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install drops the compiler's version notes too, as Debian's own
# package builds do.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quarlo\"
        COMMAND_ERROR_IS_FATAL ANY)
endif()")
install(FILES ${PROJECT_SOURCE_DIR}/data/Color.Ini DESTINATION ${CMAKE_INSTALL_DATADIR}/quarlo)
install(FILES ${quarlo_entry} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${quarlo_appstream_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quarlo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `cpack` in the build folder: quarlo_VERSION_ARCH.deb. The library
# dependencies come from dpkg-shlibdeps; the font is no library, so it is
# named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quarlo developers")
set(CPACK_PACKAGE_CONTACT "Quarlo developers <dev@quarlo.invalid>")
# A Debian package lives in /usr whatever the prefix of `cmake --install`;
# the program finds its palette relative to itself in either.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-ipafont-gothic)
# cpack puts the space in front of each line of the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"explorer for the escape-time set of the quadratic map
Quarlo paints the escape-time set of z <- z^2 + c in a desktop window,
column by column, from a centre, a size, a repeat count and a colour mode
typed into its control window. A click zooms in ten times on a point, and
each finished picture is saved as a numbered bitmap in Quarlo/Bmp under
the user's pictures folder.")
include(CPack)
