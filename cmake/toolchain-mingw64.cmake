# Cross-building the Windows programs on Linux with the x86_64-w64-mingw32 compiler
# (the posix-thread variant, which C++ threads and std::chrono need). Everything is linked
# statically, so that each .exe runs with the system's DLLs alone. Test executables run
# under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNSET_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNSET_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNSET_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNSET_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNSET_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
# -O2: the programs wait on a serial line, and the cross build stays quick.
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
# GCC 12 reports impossible overlaps, bounds and over-reads inside libstdc++'s own string
# and vector code when it inlines them (GCC bugs 105651 and 107852, fixed in GCC 13);
# Debian's mingw-w64 compiler is GCC 12. The Linux trees keep these warnings (and the
# sanitizers).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict -Wno-array-bounds -Wno-stringop-overread")
