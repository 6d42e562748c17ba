# Where the programs find their shaders once built or installed, what `cmake --install` puts where,
# and the Debian package made by CPack.

include(GNUInstallDirs)

set(LF_PACKAGE_NAME lightfield-viewer)
set(LF_SHADER_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/${LF_PACKAGE_NAME}/shaders)

# A program that does not find shaders/ under its working directory reads the ones installed with
# it, at this path from its own directory. Relative, so that the tree may be installed under any
# prefix or unpacked anywhere.
file(RELATIVE_PATH LF_INSTALLED_SHADERS_FROM_EXECUTABLE
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/${LF_PACKAGE_NAME}/shaders)
set_source_files_properties(viewer/gpu/ShaderLibrary.cpp PROPERTIES COMPILE_DEFINITIONS
    LF_INSTALLED_SHADERS_FROM_EXECUTABLE="${LF_INSTALLED_SHADERS_FROM_EXECUTABLE}")

# The programs of a build tree lie in its top directory; a link to the sources' shaders beside
# them lets them start from anywhere and always see the shaders as they are edited.
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/shaders ${CMAKE_BINARY_DIR}/shaders SYMBOLIC)

install(TARGETS ${LF_DELIVERABLES} lf2d RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY shaders/ DESTINATION ${LF_SHADER_INSTALL_DIR}
    FILES_MATCHING PATTERN "*.vert" PATTERN "*.frag")
# A file manager opens light fields with the viewer: the desktop entry names the program and the
# MIME type, the shared-mime-info package gives *.lf2d files that type. Installed from the Debian
# package, both databases are brought up to date by the triggers of desktop-file-utils and
# shared-mime-info; under another prefix, update-mime-database does it (see README).
set(LF_DESKTOP_ENTRY_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/applications)
set(LF_MIME_PACKAGE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES desktop/lightfield-viewer.desktop DESTINATION ${LF_DESKTOP_ENTRY_INSTALL_DIR})
install(FILES desktop/lightfield-viewer.xml DESTINATION ${LF_MIME_PACKAGE_INSTALL_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LF_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lightfield viewer developers <lightfield-viewer@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer for two-dimensional light fields with view synthesis")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Eleven viewer programs that differ in how they tone-map high-dynamic-range light fields, \
and lf2d, which writes synthetic light fields and turns photographs into light fields.")
# The libraries the executables link are found by dpkg-shlibdeps. What they load at run time is
# not: the DRI drivers (Mesa's software renderer where there is no GPU driver) and Qt's platform
# plugins, which come with its GUI library.
set(LF_RUNTIME_DEPENDS "libgl1-mesa-dri, libqt5gui5 (>= 5.15), libqt5widgets5 (>= 5.15)")
find_program(LF_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(LF_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${LF_RUNTIME_DEPENDS}")
else()
    # Debian 12's names of the linked libraries' packages.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${LF_RUNTIME_DEPENDS}, libqt5core5a (>= 5.15), libgl1, \
libopenimageio2.4, libstdc++6, libc6")
endif()
include(CPack)
