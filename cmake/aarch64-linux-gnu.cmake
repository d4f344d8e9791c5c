# Cross-building for arm64 Linux (a Raspberry Pi's Debian or Raspberry Pi OS) with Debian's
# aarch64 cross-compiler, against the sysroot of Debian 12's own arm64 packages that
# scripts/arm64-sysroot.sh extracts; test programs run under qemu-aarch64-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
if(NOT DEFINED QOR_ARM64_SYSROOT)
  set(QOR_ARM64_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-arm64/sysroot)
endif()
get_filename_component(QOR_ARM64_SYSROOT ${QOR_ARM64_SYSROOT} ABSOLUTE)
set(CMAKE_SYSROOT ${QOR_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH ${QOR_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Qt finds its plugins (the offscreen platform) by their path in the sysroot; QOR_EMULATED tells
# the tests what qemu cannot show (a process's own memory, a program started with clone).
set(CMAKE_CROSSCOMPILING_EMULATOR env QT_PLUGIN_PATH=${QOR_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu/qt6/plugins QOR_EMULATED=qemu
    qemu-aarch64-static -L ${QOR_ARM64_SYSROOT})
# The sysroot's libraries link those they need by their paths inside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${QOR_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu -Wl,-rpath-link,${QOR_ARM64_SYSROOT}/lib/aarch64-linux-gnu")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
# pkg-config finds the sysroot's libraries only, never the build machine's.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${QOR_ARM64_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${QOR_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${QOR_ARM64_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
