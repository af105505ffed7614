# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 GCC. Used to build the Windows toolchain
# cache (scripts/windows-toolchain) and then Ostrelle against it:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<prefix> -DQT_HOST_PATH=/usr
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRELLE_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix variants: the -win32 ones have no std::thread or std::mutex, which Qt and Ostrelle need.
set(CMAKE_C_COMPILER ${OSTRELLE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRELLE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRELLE_MINGW_TRIPLET}-windres)

# The cache's prefix (Qt, GnuTLS, SQLite for Windows). Given as -DOSTRELLE_WINDOWS_PREFIX, else from
# the environment, else the first CMAKE_PREFIX_PATH, else the default place
# scripts/windows-toolchain builds into.
if(NOT OSTRELLE_WINDOWS_PREFIX)
    if(DEFINED ENV{OSTRELLE_WINDOWS_PREFIX})
        set(OSTRELLE_WINDOWS_PREFIX "$ENV{OSTRELLE_WINDOWS_PREFIX}")
    elseif(CMAKE_PREFIX_PATH)
        list(GET CMAKE_PREFIX_PATH 0 OSTRELLE_WINDOWS_PREFIX)
    elseif(DEFINED ENV{OSTRELLE_WINDOWS_TOOLCHAIN})
        set(OSTRELLE_WINDOWS_PREFIX "$ENV{OSTRELLE_WINDOWS_TOOLCHAIN}/prefix")
    elseif(DEFINED ENV{XDG_CACHE_HOME})
        set(OSTRELLE_WINDOWS_PREFIX "$ENV{XDG_CACHE_HOME}/ostrelle/windows-toolchain/prefix")
    else()
        set(OSTRELLE_WINDOWS_PREFIX "$ENV{HOME}/.cache/ostrelle/windows-toolchain/prefix")
    endif()
endif()
set(OSTRELLE_WINDOWS_PREFIX "${OSTRELLE_WINDOWS_PREFIX}" CACHE PATH "Prefix holding Qt and GnuTLS built for Windows")
# try_compile() projects read this file again without the cache; hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTRELLE_WINDOWS_PREFIX)

# Prefixes given in CMAKE_PREFIX_PATH are roots too: under ONLY they would otherwise be searched
# re-rooted below /usr/x86_64-w64-mingw32, where they do not exist.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTRELLE_MINGW_TRIPLET} "${OSTRELLE_WINDOWS_PREFIX}" ${CMAKE_PREFIX_PATH})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
# Build tools (moc, rcc, uic, windres) run on Linux; libraries, headers and CMake packages must be the
# Windows ones, or a Linux libgnutls or Qt6Config from /usr would be taken. Qt's own config adds
# QT_HOST_PATH to the root path by itself when it looks for its host tools.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the host Qt's CMake files under the multiarch folder, not <QT_HOST_PATH>/lib/cmake
# where a cross-built Qt looks for them by default.
if(NOT QT_HOST_PATH_CMAKE_DIR AND (NOT QT_HOST_PATH OR QT_HOST_PATH STREQUAL "/usr"))
    file(GLOB _ostrelle_host_qt_cmake LIST_DIRECTORIES true /usr/lib/*-linux-gnu/cmake/Qt6HostInfo)
    if(_ostrelle_host_qt_cmake)
        list(GET _ostrelle_host_qt_cmake 0 _ostrelle_host_qt_cmake)
        get_filename_component(_ostrelle_host_qt_cmake "${_ostrelle_host_qt_cmake}" DIRECTORY)
        set(QT_HOST_PATH_CMAKE_DIR "${_ostrelle_host_qt_cmake}" CACHE PATH "The host Qt's CMake packages")
    endif()
endif()

# pkg-config (GnuTLS) must see only the Windows .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "${OSTRELLE_WINDOWS_PREFIX}/lib/pkgconfig:/usr/${OSTRELLE_MINGW_TRIPLET}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
