# `cmake --install` puts the shared library, the public headers, the quorin host with its man
# page and bash completion, a CMake package (find_package(QuorinNative) gives
# QuorinNative::QuorinNative) and a pkg-config file in place. Each file belongs to one
# component, which cmake/packaging.cmake turns into one Debian package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QRN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorinNative)

install(TARGETS QuorinNative EXPORT QuorinNativeTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quorin
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT QuorinNativeTargets NAMESPACE QuorinNative:: DESTINATION ${QRN_CMAKE_DIR}
  COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QuorinNativeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuorinNativeConfig.cmake INSTALL_DESTINATION ${QRN_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorinNativeConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuorinNativeConfig.cmake
  ${PROJECT_BINARY_DIR}/QuorinNativeConfigVersion.cmake DESTINATION ${QRN_CMAKE_DIR}
  COMPONENT dev)

# The pkg-config file is written as it is installed, for the prefix installed to (`--prefix`,
# or /usr in the packages), so that its libdir is a plain absolute path: a host records it
# in its rpath as it is.
install(CODE "
  set(QRN_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quorin-native.pc.in\"
    \"${PROJECT_BINARY_DIR}/pkgconfig/quorin-native.pc\" @ONLY)
" COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/quorin-native.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(TARGETS quorin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/tools/quorin/quorin.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/tools/quorin/quorin.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME quorin
  COMPONENT cli)
