# Cross build for the reader's 32-bit ARM host board (armhf), with Debian's
# cross compiler. protoc runs on the build machine.
#
# The armhf libraries (protobuf, zlib) are unpacked by scripts/setup into a
# sysroot of their own, build-sysroot-armhf/, rather than installed through
# dpkg's multiarch: multiarch insists that an armhf library has the very
# version of the host's own, which a mirror in the middle of a sync cannot
# always give. The C library and libstdc++ come with the cross compiler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

get_filename_component(TARNEL_ARMHF_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-sysroot-armhf ABSOLUTE)
set(TARNEL_ARMHF_LIBDIR ${TARNEL_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf)
set(TARNEL_ARMHF_RUNTIME_DIRS ${TARNEL_ARMHF_LIBDIR}:${TARNEL_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf)
if(NOT EXISTS ${TARNEL_ARMHF_LIBDIR}/libprotobuf.so)
  message(FATAL_ERROR "no armhf libraries in ${TARNEL_ARMHF_SYSROOT}: run scripts/setup first")
endif()

set(CMAKE_FIND_ROOT_PATH ${TARNEL_ARMHF_SYSROOT} /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libprotobuf needs libz (in the sysroot's /lib) at link time too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${TARNEL_ARMHF_RUNTIME_DIRS}")
set(TARNEL_PROTOC /usr/bin/protoc CACHE FILEPATH "protoc of the build machine")
set(Protobuf_PROTOC_EXECUTABLE /usr/bin/protoc CACHE FILEPATH "protoc of the build machine")

# Tests run under user-mode emulation: the loader and the C library from the
# cross compiler's tree, the other libraries from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=${TARNEL_ARMHF_RUNTIME_DIRS})
# pkg-config must describe the armhf libraries, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${TARNEL_ARMHF_LIBDIR}/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${TARNEL_ARMHF_SYSROOT})
