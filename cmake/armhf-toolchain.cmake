# Cross build for the reader's 32-bit ARM host board (armhf), with Debian's
# cross compiler and its armhf libraries. protoc runs on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(TARNEL_PROTOC /usr/bin/protoc CACHE FILEPATH "protoc of the build machine")
# Tests run under user-mode emulation; the armhf loader and libraries come
# from the multiarch tree (/lib/ld-linux-armhf.so.3, /usr/lib/arm-linux-gnueabihf).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
# pkg-config must describe the armhf libraries, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
