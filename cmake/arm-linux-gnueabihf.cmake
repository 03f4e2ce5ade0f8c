# Cross-builds for 32-bit ARM Linux (armhf: ARMv7 with hardware floating point, as Raspberry Pi OS
# and Debian's armhf) with Debian's g++-arm-linux-gnueabihf; the programs run under
# qemu-user-static, which CTest uses as the emulator. The build takes NEON for the fast line path:
# every board that runs armhf, the Raspberry Pi 2 and later among them, has it, though the
# compiler's own baseline does not promise it. For an ARMv7 without NEON, configure with
# -DCMAKE_CXX_FLAGS=-mfpu=vfpv3-d16: the portable primitives are taken instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_C_FLAGS_INIT -mfpu=neon)
set(CMAKE_CXX_FLAGS_INIT -mfpu=neon)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
