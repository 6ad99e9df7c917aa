# Cross-building for the device: 32-bit ARM (hard-float ABI), Linux, GNU C
# library, with Debian's cross compiler (g++-arm-linux-gnueabihf).
#
# Programs built here run on this machine through qemu-user: CTest and the
# GoogleTest discovery start them through CMAKE_CROSSCOMPILING_EMULATOR. They
# run on Debian's armhf run-time (libc6:armhf and libstdc++6:armhf, installed
# beside this machine's own through multiarch), which the emulated loader finds
# under /lib like on the device. The cross toolchain's copy of the C library is
# for linking only: under qemu-arm 7.2 its thread start crashes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CFGWATCH_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${CFGWATCH_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CFGWATCH_TARGET_TRIPLET}-g++)

# The cross toolchain's own sysroot: headers, the C library and libstdc++
# for the target.
set(CFGWATCH_TARGET_ROOT /usr/${CFGWATCH_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${CFGWATCH_TARGET_ROOT})
# Tools (python3, readelf) come from this machine; libraries and headers only
# from the target's root, so nothing of this machine's own is linked in.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(CFGWATCH_QEMU_ARM qemu-arm)
if(CFGWATCH_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CFGWATCH_QEMU_ARM})
endif()

# The device has little flash: optimise for size, give every function and
# object its own section and let the linker drop those nothing reaches.
set(CFGWATCH_TARGET_SIZE_FLAGS "-Os -ffunction-sections -fdata-sections")
# The C library's 32-bit time_t ends in January 2038, after which time()
# only fails and the time-of-day trigger would read 1969; its 64-bit time and
# file-offset interfaces (the one needs the other) keep the clock and file
# sizes whole. No settings or IPC interface carries a time_t or off_t.
set(CFGWATCH_TARGET_ABI_FLAGS "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${CFGWATCH_TARGET_SIZE_FLAGS} ${CFGWATCH_TARGET_ABI_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${CFGWATCH_TARGET_SIZE_FLAGS} ${CFGWATCH_TARGET_ABI_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--gc-sections")
