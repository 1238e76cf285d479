# Where an installed Quillstow lives, and the .deb that CPack builds from it.
# The program finds its default registry store at <bin>/../share/quillstow,
# so the two folders must stay siblings under one prefix.
include(GNUInstallDirs)

set(quillstow_data "${PROJECT_SOURCE_DIR}/data")

# The window icon, built into the executable so it needs no installed file.
qt_add_resources(quillstow quillstow_icon
    PREFIX /icons
    BASE "${quillstow_data}"
    FILES "${quillstow_data}/quillstow.svg")

# Debian's hardening for a program on users' desktops: a read-only GOT and
# checked libc calls (these need optimisation, and get in the sanitizers' way).
target_link_options(quillstow PRIVATE -Wl,-z,relro -Wl,-z,now)
if(NOT QUILLSTOW_SANITIZE AND NOT QUILLSTOW_FUZZ)
    foreach(target quillstow quillstow_core)
        target_compile_options(${target} PRIVATE
            $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
    endforeach()
endif()

install(TARGETS quillstow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The default registry store comes with the About box. The glob is checked on
# every build, so the store is installed as soon as it exists, and no empty
# folder is left in the package before then.
file(GLOB quillstow_registry CONFIGURE_DEPENDS "${quillstow_data}/registry.reg")
if(quillstow_registry)
    install(FILES ${quillstow_registry} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillstow)
endif()
install(FILES "${quillstow_data}/io.github.quillstow.Quillstow.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${quillstow_data}/quillstow.svg"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES "${quillstow_data}/io.github.quillstow.Quillstow.metainfo.xml"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the manual page and the changelog compressed with -9n (no
# name, no time stamp), so that rebuilding gives the same bytes.
set(quillstow_gz_dir "${PROJECT_BINARY_DIR}/package")
set(quillstow_gz)
foreach(pair "quillstow.1|quillstow.1.gz" "package/changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT "${quillstow_gz_dir}/${target}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${quillstow_gz_dir}"
        COMMAND gzip -9n -c "${quillstow_data}/${source}" > "${quillstow_gz_dir}/${target}"
        DEPENDS "${quillstow_data}/${source}"
        VERBATIM)
    list(APPEND quillstow_gz "${quillstow_gz_dir}/${target}")
endforeach()
add_custom_target(quillstow_package_docs ALL DEPENDS ${quillstow_gz})

install(FILES "${quillstow_gz_dir}/quillstow.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${quillstow_gz_dir}/changelog.gz" "${quillstow_data}/package/copyright"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillstow)

# ---- the .deb: cpack -G DEB in the build folder ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillstow)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillstow developers")
set(CPACK_PACKAGE_CONTACT "The Quillstow developers <maintainers@users.noreply.c-seed-e5fc726b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy the files of chosen folders into one backup folder")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The Qt 6 libraries come from dpkg-shlibdeps; the system information viewer
# and the SVG icon engine (for the window icon) are wanted but not needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hardinfo, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quillstow keeps a list of up to 1000 folders. Its Backup NOW button
copies every file that lies directly in each of them into one backup
folder, side by side under their own names, replacing older copies.
The backup folder can lie on any drive letter, a mapped network share
included, and the list can be exported to a file and imported again.")
include(CPack)
