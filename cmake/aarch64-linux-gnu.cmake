# Cross-builds the Linux arm64 binaries on an x64 Debian machine: Debian's
# cross compiler (crossbuild-essential-arm64) with its own C library, and the
# arm64 CUPS, libpng and zlib files unpacked by scripts/arm64-sysroot.sh into
# TRACE_LABEL_ARM64_SYSROOT (default build-arm64/sysroot of the checkout).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(DEFINED ENV{TRACE_LABEL_ARM64_SYSROOT})
  set(TRACE_LABEL_ARM64_SYSROOT $ENV{TRACE_LABEL_ARM64_SYSROOT})
else()
  get_filename_component(TRACE_LABEL_ARM64_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-arm64/sysroot ABSOLUTE)
endif()
# Kept for the try_compile projects, which read the toolchain file anew.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRACE_LABEL_ARM64_SYSROOT)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${TRACE_LABEL_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libcups names its own libraries (gnutls, krb5, avahi): found in the folder, not linked in.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${TRACE_LABEL_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu -Wl,-rpath-link,${TRACE_LABEL_ARM64_SYSROOT}/lib/aarch64-linux-gnu")
