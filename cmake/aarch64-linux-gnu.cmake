# Cross build for 64-bit Arm with Debian's cross toolchain and multiarch
# libraries (crossbuild-essential-arm64, libdbus-1-dev:arm64, ...). Tests run
# under qemu-aarch64 with the multiarch root as its sysroot: its loader and
# libc are one release. The cross toolchain's own runtime under
# /usr/aarch64-linux-gnu has an older loader, which with the multiarch libc
# that libdbus-1-3:arm64 pulls in hangs in the first pthread_create; the
# multiarch root needs libstdc++6:arm64 instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/)
# Only the arm64 .pc files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
