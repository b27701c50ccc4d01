# Third-party versions, read by tools/build_deps.sh (sourced) and by
# cmake/third_party.cmake (parsed line by line): keep plain NAME=value lines.
#
# Debian source package versions to build from. Bookworm's main archive
# serves these; when a point release replaces one, build_deps.sh takes the
# newest version the main archive offers and says so.
VELMO_OPENSSL_DEB_VERSION=3.0.17-1~deb12u2
VELMO_7ZIP_DEB_VERSION=22.01+really26.01+dfsg-0+deb12u1
VELMO_ZLIB_DEB_VERSION=1:1.2.13.dfsg-1
# gtest comes from the installed googletest package (/usr/src/googletest).
VELMO_GOOGLETEST_VERSION=1.12.1
# Bump when the way a library is built changes, so caches built the old way
# are rebuilt.
VELMO_DEPS_RECIPE=1
