# Cross-build for 64-bit Windows with Debian's MinGW-w64 compiler (posix thread model, so that
# std::thread and std::mutex work). The executables link the C and C++ runtimes statically and
# stand alone; tests run under Wine through the emulator wrapper.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TILLVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TILLVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TILLVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TILLVANE_MINGW_TRIPLET}-windres)
# Message tables of the event log (platform/win32/event_messages.mc).
set(TILLVANE_MC_COMPILER ${TILLVANE_MINGW_TRIPLET}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${TILLVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beside the program: libgcc, libstdc++ and winpthread go into the executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs built here run under Wine (ctest, test discovery).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
