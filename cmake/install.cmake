# Installation and the Debian package. Read after every folder, so all targets exist.
#
#   cmake --install build [--prefix /usr]          GNU install folders
#   cpack --config build/CPackConfig.cmake -G DEB  the .deb (or: ninja -C build package)
#
# Layout: the programs in bin/; the shared libraries with SONAME versions in lib/<arch>;
# the capture plug-ins in lib/<arch>/sapiolux; the helper programs the import library
# starts in libexec/sapiolux; the agent's term weights and stop list in share/sapiolux;
# public headers in include/sapiolux with pkg-config files and a CMake package; the
# menu entry, an opt-in autostart entry, systemd user units and manual pages.
# Every installed program finds its libraries relative to itself, so an installed tree
# also runs where it was unpacked (the packaging test relies on that).

set(SAPIOLUX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(SAPIOLUX_SOVERSION 0)

# Folders of the install layout relative to one another (for run paths and for the
# support library, which finds the installed folders from where it is loaded).
set(SAPIOLUX_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/sapiolux)
set(SAPIOLUX_HELPER_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/sapiolux)
set(SAPIOLUX_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/sapiolux)
function(sapiolux_relative var from to)
  file(RELATIVE_PATH rel ${CMAKE_INSTALL_PREFIX}/${from} ${CMAKE_INSTALL_PREFIX}/${to})
  if(rel STREQUAL "")
    set(rel ".")
  endif()
  set(${var} ${rel} PARENT_SCOPE)
endfunction()
sapiolux_relative(bin_to_lib ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
sapiolux_relative(helper_to_lib ${SAPIOLUX_HELPER_INSTALL_DIR} ${CMAKE_INSTALL_LIBDIR})
sapiolux_relative(plugin_to_lib ${SAPIOLUX_PLUGIN_INSTALL_DIR} ${CMAKE_INSTALL_LIBDIR})
sapiolux_relative(lib_to_data ${CMAKE_INSTALL_LIBDIR} ${SAPIOLUX_DATA_INSTALL_DIR})
sapiolux_relative(lib_to_plugins ${CMAKE_INSTALL_LIBDIR} ${SAPIOLUX_PLUGIN_INSTALL_DIR})
sapiolux_relative(lib_to_helpers ${CMAKE_INSTALL_LIBDIR} ${SAPIOLUX_HELPER_INSTALL_DIR})

target_compile_definitions(ixosupport PRIVATE
  SAPIOLUX_LIB_TO_DATA="${lib_to_data}"
  SAPIOLUX_LIB_TO_PLUGINS="${lib_to_plugins}"
  SAPIOLUX_LIB_TO_HELPERS="${lib_to_helpers}")

# The machine settings hive lives in the install's configuration folder (/etc for the
# /usr prefix, PREFIX/etc otherwise), an absolute folder the programs are built with;
# SAPIOLUX_MACHINE_HIVE_DIR still overrides it at run time.
set(SAPIOLUX_MACHINE_HIVE_INSTALL_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/sapiolux)
if(TARGET ixoplatform)
  target_compile_definitions(ixoplatform PRIVATE
    SAPIOLUX_MACHINE_HIVE_DEFAULT="${SAPIOLUX_MACHINE_HIVE_INSTALL_DIR}")
endif()

# --- the shared libraries -------------------------------------------------------------
set(SAPIOLUX_INSTALL_LIBS)
foreach(lib ixosupport ixoplatform ixo imex)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION}
                                            SOVERSION ${SAPIOLUX_SOVERSION}
                                            INSTALL_RPATH "$ORIGIN")
    list(APPEND SAPIOLUX_INSTALL_LIBS ${lib})
  endif()
endforeach()
foreach(lib ixo imex)
  if(TARGET ${lib})
    target_include_directories(${lib} INTERFACE
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/sapiolux>)
  endif()
endforeach()
# The client and import libraries, with the support library they call, make the CMake
# package; the platform library is the programs' own.
set(SAPIOLUX_EXPORTED_LIBS)
foreach(lib ixosupport ixo imex)
  if(TARGET ${lib})
    list(APPEND SAPIOLUX_EXPORTED_LIBS ${lib})
  endif()
endforeach()
install(TARGETS ${SAPIOLUX_EXPORTED_LIBS} EXPORT SapioluxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
if(TARGET ixoplatform)
  install(TARGETS ixoplatform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
endif()

# --- the programs ---------------------------------------------------------------------
set(SAPIOLUX_PROGRAMS)
foreach(program sapiolux sapiolux-suggest ixoserver ixoclient ixoindex imex_tool mailfetch)
  if(TARGET ${program})
    list(APPEND SAPIOLUX_PROGRAMS ${program})
  endif()
endforeach()
set_target_properties(${SAPIOLUX_PROGRAMS} PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
install(TARGETS ${SAPIOLUX_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The personal server's control window (vantri-personal) installs here once its target
# exists; live indexing is the same ixoindex program with --watch, run by the
# ixoindex-watch user unit below.
if(TARGET vantri-personal)
  set_target_properties(vantri-personal PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
  install(TARGETS vantri-personal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND SAPIOLUX_PROGRAMS vantri-personal)
endif()

# The helper programs the import library starts; not for running by hand.
set(SAPIOLUX_HELPERS)
foreach(helper importslave pdfslave keyviewslave binslave flashslave)
  if(TARGET ${helper})
    list(APPEND SAPIOLUX_HELPERS ${helper})
  endif()
endforeach()
if(SAPIOLUX_HELPERS)
  set_target_properties(${SAPIOLUX_HELPERS} PROPERTIES INSTALL_RPATH "$ORIGIN/${helper_to_lib}")
  install(TARGETS ${SAPIOLUX_HELPERS} RUNTIME DESTINATION ${SAPIOLUX_HELPER_INSTALL_DIR})
endif()

# The capture plug-ins, loaded by the agent at start-up.
foreach(plugin sapiolux_focus sapiolux_sxnt)
  if(TARGET ${plugin})
    set_target_properties(${plugin} PROPERTIES INSTALL_RPATH "$ORIGIN/${plugin_to_lib}")
    install(TARGETS ${plugin} LIBRARY DESTINATION ${SAPIOLUX_PLUGIN_INSTALL_DIR})
  endif()
endforeach()

# --- data, headers, development files -------------------------------------------------
install(FILES agent/data/enc.dat agent/data/english.dat agent/data/NOTICES.txt
        DESTINATION ${SAPIOLUX_DATA_INSTALL_DIR})
file(GLOB SAPIOLUX_PUBLIC_HEADERS ${CMAKE_SOURCE_DIR}/include/*.h)
install(FILES ${SAPIOLUX_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sapiolux
        COMPONENT Development)

# Files that name installed paths are made at install time, from the prefix of that
# install (cmake --install --prefix, or /usr for the package).
function(sapiolux_install_configured template name destination)
  set(out ${CMAKE_BINARY_DIR}/packaging/installed/${name})
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(CMAKE_INSTALL_FULL_LIBDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
    set(CMAKE_INSTALL_FULL_INCLUDEDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
    set(PROJECT_VERSION ${PROJECT_VERSION})
    configure_file(\"${SAPIOLUX_PACKAGING_DIR}/${template}\" \"${out}\" @ONLY)
  " ${ARGN})
  install(FILES ${out} DESTINATION ${destination} ${ARGN})
endfunction()

sapiolux_install_configured(libixo.pc.in libixo.pc ${CMAKE_INSTALL_LIBDIR}/pkgconfig
                            COMPONENT Development)
sapiolux_install_configured(libimex.pc.in libimex.pc ${CMAKE_INSTALL_LIBDIR}/pkgconfig
                            COMPONENT Development)

include(CMakePackageConfigHelpers)
set(SAPIOLUX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Sapiolux)
install(EXPORT SapioluxTargets NAMESPACE Sapiolux:: DESTINATION ${SAPIOLUX_CMAKE_DIR}
        COMPONENT Development)
configure_package_config_file(${SAPIOLUX_PACKAGING_DIR}/SapioluxConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/packaging/SapioluxConfig.cmake
                              INSTALL_DESTINATION ${SAPIOLUX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/SapioluxConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/SapioluxConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/SapioluxConfigVersion.cmake
        DESTINATION ${SAPIOLUX_CMAKE_DIR} COMPONENT Development)

# --- desktop integration --------------------------------------------------------------
# The menu entry; the autostart entry is opt-in: a user copies it from
# share/sapiolux/autostart into ~/.config/autostart.
install(FILES ${SAPIOLUX_PACKAGING_DIR}/sapiolux.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${SAPIOLUX_PACKAGING_DIR}/sapiolux-autostart.desktop
        DESTINATION ${SAPIOLUX_DATA_INSTALL_DIR}/autostart RENAME sapiolux.desktop)
install(FILES ${SAPIOLUX_PACKAGING_DIR}/sapiolux.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# systemd user units (in lib/systemd/user under the prefix, where a /usr install puts
# them for the user manager).
sapiolux_install_configured(ixoserver.service.in ixoserver.service lib/systemd/user)
sapiolux_install_configured(ixoindex-watch.service.in ixoindex-watch.service lib/systemd/user)

# The personal server registered for every user of the machine, each with the server's
# folder under their own data folder, in the machine hive where the programs look for
# it. An install under another prefix than the configured one (cmake --install
# --prefix, CPack's /usr) puts the hive where a build for that prefix would look, by
# the rule of GNUInstallDirs, and says so when the programs at hand look elsewhere.
set(machine_reg ${CMAKE_BINARY_DIR}/packaging/installed/machine.reg)
install(CODE "
  set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${SAPIOLUX_PACKAGING_DIR}/machine.reg.in\" \"${machine_reg}\" @ONLY)
  set(sysconf \"${CMAKE_INSTALL_SYSCONFDIR}\")
  if(CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
    set(hive_dir \"${SAPIOLUX_MACHINE_HIVE_INSTALL_DIR}\")
  elseif(IS_ABSOLUTE \"\${sysconf}\")
    set(hive_dir \"\${sysconf}/sapiolux\")
  elseif(sysconf STREQUAL \"etc\" AND CMAKE_INSTALL_PREFIX MATCHES \"^/(usr/?)?$\")
    set(hive_dir /etc/sapiolux)
  elseif(sysconf STREQUAL \"etc\" AND CMAKE_INSTALL_PREFIX MATCHES \"^/opt/\")
    set(hive_dir \"/etc\${CMAKE_INSTALL_PREFIX}/sapiolux\")
  else()
    set(hive_dir \"\${CMAKE_INSTALL_PREFIX}/\${sysconf}/sapiolux\")
  endif()
  if(NOT hive_dir STREQUAL \"${SAPIOLUX_MACHINE_HIVE_INSTALL_DIR}\")
    message(WARNING \"The programs were built to read the machine hive from \"
                    \"${SAPIOLUX_MACHINE_HIVE_INSTALL_DIR}; installed under another prefix, \"
                    \"it goes to \${hive_dir}. Configure with \"
                    \"-DCMAKE_INSTALL_PREFIX=\${CMAKE_INSTALL_PREFIX} for this install, or set \"
                    \"SAPIOLUX_MACHINE_HIVE_DIR=\${hive_dir}.\")
  endif()
  file(INSTALL \"${machine_reg}\" DESTINATION \"\${hive_dir}\")
")

# Manual pages made from each program's --help (with help2man, when it is there; not in a
# sanitizer build, whose programs are not for shipping).
find_program(HELP2MAN_PROGRAM help2man)
if(HELP2MAN_PROGRAM AND NOT SANITIZE AND NOT FUZZ)
  # One line for the NAME section of each page.
  set(summary_sapiolux "desktop agent listing the documents most similar to your text")
  set(summary_sapiolux-suggest "the agent's suggestions for a text, without a window")
  set(summary_ixoserver "personal retrieval server")
  set(summary_ixoclient "talk to a retrieval server")
  set(summary_ixoindex "keep a retrieval server's index in step with folders and mail")
  set(summary_imex "import files, folders and mail into IDX documents")
  set(summary_mailfetch "fetch a mail program's messages as documents, open one message")
  set(summary_vantri-personal "control window of the personal retrieval server")
  set(SAPIOLUX_MANPAGES)
  foreach(program ${SAPIOLUX_PROGRAMS})
    get_target_property(name ${program} OUTPUT_NAME)
    if(NOT name)
      set(name ${program})
    endif()
    set(summary "${summary_${name}}")
    if(NOT summary)
      set(summary ${name})
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${name}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${HELP2MAN_PROGRAM} --no-info --no-discard-stderr
              --version-string=${PROJECT_VERSION} --name=${summary}
              --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program} VERBATIM)
    list(APPEND SAPIOLUX_MANPAGES ${page})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${SAPIOLUX_MANPAGES})
  install(FILES ${SAPIOLUX_MANPAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found (or a sanitizer build): no manual pages")
endif()

# --- the Debian package ---------------------------------------------------------------
set(CPACK_PACKAGE_NAME sapiolux)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Sapiolux developers")
set(CPACK_PACKAGE_CONTACT "Sapiolux developers <devel@sapiolux.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "desktop suggestion agent with a personal retrieval server")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "desktop suggestion agent with a personal retrieval server\n\
The agent follows the window you work in, reads its text over the accessibility bus\n\
and lists the documents a retrieval server finds most similar. The package holds the\n\
agent, the personal retrieval server ixoserver, its indexer ixoindex and the other\n\
tools, the retrieval-client and document-import libraries with their headers,\n\
pkg-config files and CMake package.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' dependencies are found by dpkg-shlibdeps; what the programs start or
# load at run time is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils, at-spi2-core, dbus")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "poppler-utils, antiword, catdoc, unrtf, odt2txt, docx2txt, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openbox | x-window-manager")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# Installed into a staging root with DESTDIR, so the prefix seen at install time is /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
