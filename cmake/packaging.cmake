# `cpack --config build/default/CPackConfig.cmake` makes four Debian packages from the
# install components: the shared library, what building against it needs, the quorin
# host and the Python package. dpkg-shlibdeps finds each package's library dependencies from its binaries. The
# description's first line is each package's synopsis.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorin-native)
# Every package carries the project's version; see CHANGELOG.md for how it moves.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vendexa)
set(CPACK_PACKAGE_CONTACT "QuorinNative developers <quorin-native@vendexa.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime dev cli python)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shlibs file in the library's package, so that packages built against it depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The build keeps its debug information; the packages need none of it.
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENT_DEV_DEPENDS runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquorinnative${PROJECT_VERSION_MAJOR})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "native core of the Quorin application SDK
The shared library libQuorinNative: device facts, lifecycle events, the keychain, the
cloud key-value store and the legacy SDK's data migration, behind a C and a C++ interface.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquorinnative-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "native core of the Quorin application SDK (development files)
The C and C++ headers, the CMake package QuorinNative and the pkg-config file quorin-native.")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME quorin)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION utils)
# Bash loads the completion it installs in bash-completion's directory through that package.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_COMPONENT_CLI_DESCRIPTION "host for the native core of the Quorin application SDK
quorin runs as one device (a container directory): it prints the device's facts, reads
and writes its keychain and cloud key-value store, and migrates the legacy SDK's data.")

set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quorin)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9)")
# Byte-compiled on installation and cleaned on removal, as Debian's own Python packages are,
# so that no cache the interpreter wrote is left behind in /usr.
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/bindings/python/debian/postinst
  ${PROJECT_SOURCE_DIR}/bindings/python/debian/prerm)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "native core of the Quorin application SDK (Python 3)
The package quorin: devices, clients and their facts, keychain, cloud key-value store,
lifecycle events and migration, typed and asyncio-native, over libQuorinNative's C
interface.")

include(CPack)
