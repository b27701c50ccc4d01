# Imported targets for the prebuilt third-party libraries:
#   thirdparty::zlib     static zlib from Debian's libz-mingw-w64-dev
#   thirdparty::minizip  zip/unzip on top of zlib      (#include <minizip/zip.h>)
#   thirdparty::lzma     7z archive decoder            (#include <lzma/7z.h>)
#   thirdparty::crypto   OpenSSL libcrypto             (#include <openssl/sha.h>)
#   thirdparty::gtest    gtest and gmock, without a main()
#
# tools/build_deps.sh builds them into VELMO_DEPS_CACHE and records the folders
# in deps-<hash>.cmake, named after tools/deps_versions.sh (the pinned
# versions), so a changed pin shows up here instead of as an odd link error.

set(VELMO_DEPS_CACHE "$ENV{VELMO_DEPS_CACHE}" CACHE PATH
    "Folder holding the prebuilt third-party libraries (tools/build_deps.sh)")
if(NOT VELMO_DEPS_CACHE)
  set(VELMO_DEPS_CACHE "/var/cache/velmo-deps" CACHE PATH
      "Folder holding the prebuilt third-party libraries (tools/build_deps.sh)" FORCE)
endif()

set(_velmo_versions_file "${CMAKE_CURRENT_LIST_DIR}/../tools/deps_versions.sh")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_velmo_versions_file}")
file(SHA256 "${_velmo_versions_file}" _velmo_pin_hash)
string(SUBSTRING "${_velmo_pin_hash}" 0 16 _velmo_pin_hash)
set(_velmo_deps_record "${VELMO_DEPS_CACHE}/deps-${_velmo_pin_hash}.cmake")

set(_velmo_deps_hint
    "Build them with `bash tools/setup.sh` as root (installs the toolchain and runs "
    "tools/build_deps.sh), or `bash tools/build_deps.sh` when the packages are already "
    "installed. Set VELMO_DEPS_CACHE to use a cache elsewhere.")
if(NOT EXISTS "${_velmo_deps_record}")
  message(FATAL_ERROR
      "Third-party libraries for the versions in tools/deps_versions.sh are not in "
      "${VELMO_DEPS_CACHE} (no deps-${_velmo_pin_hash}.cmake there).\n" ${_velmo_deps_hint})
endif()
include("${_velmo_deps_record}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_velmo_deps_record}")

foreach(_dep OPENSSL LZMA MINIZIP GOOGLETEST)
  if(NOT EXISTS "${VELMO_DEP_${_dep}_DIR}/.velmo-stamp")
    message(FATAL_ERROR
        "${VELMO_DEP_${_dep}_DIR} is incomplete or missing.\n" ${_velmo_deps_hint})
  endif()
endforeach()
if(NOT EXISTS "${VELMO_DEP_ZLIB_LIBRARY}")
  message(FATAL_ERROR "${VELMO_DEP_ZLIB_LIBRARY} is missing (libz-mingw-w64-dev).\n"
      ${_velmo_deps_hint})
endif()

message(STATUS "Third-party libraries from ${VELMO_DEPS_CACHE}: "
    "openssl ${VELMO_DEP_OPENSSL_VERSION}, 7zip ${VELMO_DEP_LZMA_VERSION}, "
    "zlib/minizip ${VELMO_DEP_MINIZIP_VERSION}, googletest ${VELMO_DEP_GOOGLETEST_VERSION}")

# Imports one static library. Every target gets its headers as SYSTEM includes
# so that -Werror in our code does not trip over warnings in theirs.
function(_velmo_import_static name library include_dir)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION "${library}")
  if(include_dir)
    set_target_properties(${name} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${include_dir}"
        INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${include_dir}")
  endif()
endfunction()

# zlib.h sits in the cross compiler's own include folder: no include path to
# add (adding that folder with -isystem would upset #include_next in libstdc++).
_velmo_import_static(thirdparty::zlib "${VELMO_DEP_ZLIB_LIBRARY}" "")

_velmo_import_static(thirdparty::minizip
    "${VELMO_DEP_MINIZIP_DIR}/lib/libminizip.a" "${VELMO_DEP_MINIZIP_DIR}/include")
set_target_properties(thirdparty::minizip PROPERTIES INTERFACE_LINK_LIBRARIES thirdparty::zlib)

_velmo_import_static(thirdparty::lzma
    "${VELMO_DEP_LZMA_DIR}/lib/liblzma_sdk.a" "${VELMO_DEP_LZMA_DIR}/include")

# libcrypto's own Windows imports: sockets (BIO), CryptoAPI (entropy), event log
# and message box (fatal errors), window station check, GDI (legacy RAND_screen).
_velmo_import_static(thirdparty::crypto
    "${VELMO_DEP_OPENSSL_DIR}/lib/libcrypto.a" "${VELMO_DEP_OPENSSL_DIR}/include")
set_target_properties(thirdparty::crypto PROPERTIES
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;advapi32;user32;gdi32")

_velmo_import_static(thirdparty::gtest_core
    "${VELMO_DEP_GOOGLETEST_DIR}/lib/libgtest.a" "${VELMO_DEP_GOOGLETEST_DIR}/include")
_velmo_import_static(thirdparty::gmock
    "${VELMO_DEP_GOOGLETEST_DIR}/lib/libgmock.a" "${VELMO_DEP_GOOGLETEST_DIR}/include")
set_target_properties(thirdparty::gmock PROPERTIES INTERFACE_LINK_LIBRARIES thirdparty::gtest_core)
add_library(thirdparty::gtest INTERFACE IMPORTED GLOBAL)
set_target_properties(thirdparty::gtest PROPERTIES
    INTERFACE_LINK_LIBRARIES "thirdparty::gmock;thirdparty::gtest_core")
