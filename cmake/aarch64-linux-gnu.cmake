# Cross-compiling for 64-bit Arm Linux with Debian's cross compiler (g++-aarch64-linux-gnu); the programs
# run on this machine under qemu-user (scripts/aarch64.sh).
#
# They are linked against the cross compiler's C and C++ runtimes (/usr/aarch64-linux-gnu) and against
# the library vantrel needs beyond them (zlib) from Debian's arm64 package installed beside the
# machine's own (multiarch: zlib1g-dev:arm64, in /usr/lib/aarch64-linux-gnu, its architecture's headers
# in /usr/include/aarch64-linux-gnu, which the cross compiler reads); the header-only ones (CLI11,
# nlohmann-json, Boost.Asio and Beast) are the build machine's. The build machine's own libraries are in /usr/lib/x86_64-linux-gnu, which no
# search for this architecture reads, and pkg-config is pointed at the arm64 packages' files.
#
# They run on the arm64 packages alone (libc6:arm64, libstdc++6:arm64, zlib1g:arm64), as on an arm64
# Debian system: qemu-aarch64 without -L finds their loader at /lib/ld-linux-aarch64.so.1. The cross
# runtimes are another build of the C library, and a loader of one build with the libc.so of the other,
# which `-L /usr/aarch64-linux-gnu` and the arm64 zlib would bring together, hangs at start.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
