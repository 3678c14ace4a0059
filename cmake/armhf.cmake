# Cross-build for 32-bit ARM Linux with hard float (armhf): Debian's
# arm-linux-gnueabihf compilers (cmake/armhf-compilers.cmake), and programs
# built here run on this machine through qemu-arm, which is how ctest runs
# the test suite.
#   cmake -S . -B build/test-arm -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake
include(${CMAKE_CURRENT_LIST_DIR}/armhf-compilers.cmake)

# ctest and gtest_discover_tests run every built program through the
# emulator. The programs load the machine's own armhf C library, libstdc++ and
# libcrypto (libc6:armhf and friends, as on a device), not the cross
# toolchain's copy under /usr/arm-linux-gnueabihf: that copy's loader is a
# different build from the libc that libcrypto brings in, and the two together
# crash at start.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
