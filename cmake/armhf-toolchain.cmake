# The board: 32-bit ARM, hard float, EABI5 (Debian armhf). Cross compiler from
# crossbuild-essential-armhf, target libraries (Qt 5, Boost, GoogleTest) from
# Debian's multiarch folders, host tools (moc, uic, rcc) from the PC.
# Test programs run under user-mode emulation so that ctest runs them as usual.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Multiarch: the armhf libraries live beside the PC's under /usr, in their own
# lib/arm-linux-gnueabihf folders; headers in /usr/include are shared. Programs
# (moc, uic, rcc) are the PC's.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# pkg-config (used by FindOpenSSL and others) must read the armhf .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The emulator finds the armhf loader and libraries at their multiarch places.
find_program(VLX_QEMU_ARM qemu-arm)
if(VLX_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VLX_QEMU_ARM})
endif()

# The notes that GCC 7 changed how some C++ types are passed on ARM concern mixing
# objects from older compilers; everything here comes from one compiler.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
