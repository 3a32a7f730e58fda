# How integrators take the library: install rules, the CMake package (find_package(Kavrel)),
# pkg-config files, the Debian packages (CPack) and, on Windows, the import libraries of the
# zip. Installed files name no path of the machine that built them: libraries and programs
# find each other and the model data relative to themselves.
include(CMakePackageConfigHelpers)

set(kavrel_libraries Kavrel Tessum Morvane NetClient)
set(kavrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Kavrel)
if(WIN32)
  set(kavrel_data_dir ${CMAKE_INSTALL_BINDIR})  # Morvane looks beside its DLL
else()
  set(kavrel_data_dir ${CMAKE_INSTALL_DATADIR}/kavrel)
endif()

# Shared libraries: versioned names with SONAMEs of the major version (libKavrel.so.3), and
# an RPATH that finds the siblings in the same folder wherever the tree is copied.
file(RELATIVE_PATH kavrel_bin_to_lib /x/${CMAKE_INSTALL_BINDIR} /x/${CMAKE_INSTALL_LIBDIR})
foreach(lib IN LISTS kavrel_libraries)
  if(NOT WIN32)
    set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION}
                          SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")
  else()
    # Made by kavrel_export_only beside each DLL's build: its .def and MSVC import library.
    install(FILES ${KAVREL_MSVC_DIR}/${lib}.def ${KAVREL_MSVC_DIR}/${lib}.lib
            DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  endif()
endforeach()

install(TARGETS ${kavrel_libraries} EXPORT KavrelTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/Kavrel/include/kavrel.h
              ${PROJECT_SOURCE_DIR}/Kavrel/include/kavrel_results.h
              ${PROJECT_BINARY_DIR}/Kavrel/include/kavrel_version.h
              ${PROJECT_SOURCE_DIR}/NetClient-Win/include/netclient.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kavrel COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/Morvane/data/morvane-models.ini
        DESTINATION ${kavrel_data_dir} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime)

# The CMake package: Kavrel::Kavrel and Kavrel::NetClient (Kavrel::Tessum and
# Kavrel::Morvane come along as what the library itself links).
install(EXPORT KavrelTargets NAMESPACE Kavrel:: DESTINATION ${kavrel_cmake_dir}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KavrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KavrelConfig.cmake INSTALL_DESTINATION ${kavrel_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KavrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KavrelConfig.cmake ${PROJECT_BINARY_DIR}/KavrelConfigVersion.cmake
        DESTINATION ${kavrel_cmake_dir} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own folder, so a copied tree works.
file(RELATIVE_PATH kavrel_pc_to_prefix /x/${CMAKE_INSTALL_LIBDIR}/pkgconfig /x)
foreach(pc kavrel netclient)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT development)
endforeach()

# The tools: the kavrel command and the device simulator (Python, run by Debian's python3,
# finding its package and the model data relative to itself).
if(TARGET kavrel)
  set_target_properties(kavrel PROPERTIES INSTALL_RPATH "$ORIGIN/${kavrel_bin_to_lib}")
  install(TARGETS kavrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
if(NOT WIN32)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/devsim/kavrel-devsim
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/devsim/devsim
          DESTINATION ${CMAKE_INSTALL_DATADIR}/kavrel/devsim COMPONENT tools
          PATTERN __pycache__ EXCLUDE PATTERN "*.pyc" EXCLUDE)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kavrel.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()

# Debian packages, split as Debian splits a library.
set(CPACK_PACKAGE_NAME kavrel)
set(CPACK_PACKAGE_VENDOR "Kavrel developers")
set(CPACK_PACKAGE_CONTACT "Kavrel developers <kavrel@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "device-management library for network cameras and video servers")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The tools link the library of the sibling package: dpkg-shlibdeps finds it in the build
# tree, and the dependency on libkavrel3 is declared below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/Kavrel ${PROJECT_BINARY_DIR}/Tessum ${PROJECT_BINARY_DIR}/Morvane
    ${PROJECT_BINARY_DIR}/NetClient-Win)
set(kavrel_deb_exact "libkavrel${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkavrel${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Kavrel device-management library\nThe shared libraries and their model data.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkavrel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${kavrel_deb_exact}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Kavrel device-management library: development files\nHeaders, CMake package and pkg-config files.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kavrel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${kavrel_deb_exact}, python3, python3-pyftpdlib")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Kavrel command-line host and device simulator\nThe kavrel command and kavrel-devsim.")
include(CPack)
