# Where an installed Quillstow lives, and the .deb that CPack builds from it.
# The command in <bin> finds the windows program in <libexec>/quillstow, and
# that finds its default registry store in <share>/quillstow: all three stay
# under one prefix.
include(GNUInstallDirs)

set(quillstow_data "${PROJECT_SOURCE_DIR}/data")

# The window icon, built into the windows program so it needs no installed file.
qt_add_resources(quillstow_panel quillstow_icon
    PREFIX /icons
    BASE "${quillstow_data}"
    FILES "${quillstow_data}/quillstow.svg")

# Debian's hardening for a program on users' desktops, taken from
# dpkg-buildflags as a Debian package build would: stack protector, checked
# libc calls, a read-only GOT bound at start, format checks. -g and -O are left
# to the build type. Only optimised builds get them (_FORTIFY_SOURCE needs
# optimisation), and never the sanitizer or fuzz builds, which they hinder.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT QUILLSTOW_SANITIZE AND NOT QUILLSTOW_FUZZ)
    set(quillstow_hardening_compile)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        # Run in the source folder so -ffile-prefix-map maps it to ".".
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                "${DPKG_BUILDFLAGS}" --get ${kind}
            WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
            COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(g|O)")
        if(kind STREQUAL LDFLAGS)
            set(quillstow_hardening_link ${flags})
        else()
            list(APPEND quillstow_hardening_compile ${flags})
        endif()
    endforeach()
    # Newer Debian releases add these two on amd64; Debian 12 does not yet.
    include(CheckCXXCompilerFlag)
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "quillstow_has${flag}" has_flag)
        check_cxx_compiler_flag(${flag} ${has_flag})
        if(${has_flag})
            list(APPEND quillstow_hardening_compile ${flag})
        endif()
    endforeach()
    # A compiler default of _FORTIFY_SOURCE=3 would clash with Debian's =2.
    list(PREPEND quillstow_hardening_compile -U_FORTIFY_SOURCE)
    message(STATUS "Hardening optimised builds with: ${quillstow_hardening_compile} ${quillstow_hardening_link}")
    set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    foreach(target quillstow quillstow_panel quillstow_core quillstow_gui)
        target_compile_options(${target} PRIVATE "$<${optimised}:${quillstow_hardening_compile}>")
    endforeach()
    foreach(target quillstow quillstow_panel)
        target_link_options(${target} PRIVATE "$<${optimised}:${quillstow_hardening_link}>")
    endforeach()
elseif(NOT DPKG_BUILDFLAGS)
    message(STATUS "dpkg-buildflags not found: the program is built without Debian's hardening flags")
endif()

install(TARGETS quillstow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quillstow_panel RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quillstow)
# A stripped install (cpack strips) also drops the compiler's version string
# in .comment, as Debian's dh_strip does: nothing reads it at run time.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program ${CMAKE_INSTALL_BINDIR}/quillstow ${CMAKE_INSTALL_LIBEXECDIR}/quillstow/quillstow-panel)
            execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${program}\"
                COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()")
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

# The automatic backup: a systemd user timer and service, enabled for every
# user by the link in timers.target.wants (a user turns it off in Auto Sync
# Settings, or with systemctl --user mask). systemd looks for user units in
# <prefix>/lib/systemd/user for the prefixes /usr and /usr/local. The
# service names the program by its installed path, known only at install time
# (cpack installs to /usr whatever the configured prefix), so it is written then.
set(QUILLSTOW_USER_UNIT_DIR "lib/systemd/user" CACHE STRING
    "Where the systemd user units go, relative to the install prefix or absolute")
install(FILES "${quillstow_data}/quillstow-backup.timer" DESTINATION ${QUILLSTOW_USER_UNIT_DIR})
install(CODE "
    set(unit_dir \"${QUILLSTOW_USER_UNIT_DIR}\")
    if(NOT IS_ABSOLUTE \"\${unit_dir}\")
        set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/\${unit_dir}\")
    endif()
    set(bin_dir \"${CMAKE_INSTALL_BINDIR}\")
    if(NOT IS_ABSOLUTE \"\${bin_dir}\")
        set(bin_dir \"\${CMAKE_INSTALL_PREFIX}/\${bin_dir}\")
    endif()
    file(READ \"${quillstow_data}/quillstow-backup.service.in\" unit)
    string(REPLACE \"@QUILLSTOW_BINDIR@\" \"\${bin_dir}\" unit \"\${unit}\")
    set(unit_path \"\$ENV{DESTDIR}\${unit_dir}/quillstow-backup.service\")
    message(STATUS \"Installing: \${unit_path}\")
    file(WRITE \"\${unit_path}\" \"\${unit}\")
    file(CHMOD \"\${unit_path}\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${unit_dir}/timers.target.wants\")
    file(CREATE_LINK ../quillstow-backup.timer
        \"\$ENV{DESTDIR}\${unit_dir}/timers.target.wants/quillstow-backup.timer\" SYMBOLIC)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${unit_dir}/timers.target.wants/quillstow-backup.timer\")")

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
# The Qt 6 libraries come from dpkg-shlibdeps; the system information viewer,
# the SVG icon engine (for the window icon) and Qt's Wayland platform (for a
# Wayland session without XWayland) are wanted but not needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hardinfo, libqt6svg6, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Quillstow keeps a list of up to 1000 folders. Its Backup NOW button
copies every file that lies directly in each of them into one backup
folder, side by side under their own names, replacing older copies.
The backup folder can lie on any drive letter, a mapped network share
included, and the list can be exported to a file and imported again.")
include(CPack)
