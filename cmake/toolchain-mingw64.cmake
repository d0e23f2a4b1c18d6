# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#
#   cmake --preset windows            (CMakePresets.json; scripts/build-windows.sh)
#
# The compilers of the posix thread model are used: the win32 model's
# libstdc++ has no std::thread, std::mutex or std::condition_variable.
# Everything is linked statically, so the .exe files need no MinGW DLLs
# beside them. Tests run through Wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLET}-windres)

# Headers, libraries and packages come from the MinGW tree only; programs
# (the build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No MinGW runtime DLLs (libstdc++, libgcc, winpthread) next to the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# GCC 12's libstdc++ has no futex on Windows, and its fallback for
# std::atomic::wait can miss a wake-up (GCC bug 106183) and block for ever.
# std::binary_semaphore rests on it, and so does std::stop_callback: a
# callback destroyed while request_stop() runs it on another thread (a job
# ending just as it is cancelled) could hang the program. The semaphores of
# winpthreads have no such fault.
set(CMAKE_CXX_FLAGS_INIT "-D_GLIBCXX_USE_POSIX_SEMAPHORE=1")

# ctest and gtest_discover_tests run the .exe files through Wine; test
# discovery waits until the tests are run, so building needs no Wine.
find_program(VELMORA_WINE wine)
if(VELMORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
