# Cross-built for Windows, the tests run under Wine: CTest starts each through a small script
# (wine-emulator.sh.in) that finds the toolchain's DLLs and Qt's plugins.
set(OSTRELLE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(OSTRELLE_WINE_DLL_DIRS "$<TARGET_FILE_DIR:Qt6::Core>")
if(OSTRELLE_WINDOWS_PREFIX)
    list(APPEND OSTRELLE_WINE_DLL_DIRS "${OSTRELLE_WINDOWS_PREFIX}/bin")
endif()
# The compiler's own runtime (libstdc++, libgcc, winpthread), should the prefix lack a copy.
foreach(runtime libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${runtime_path}")
        get_filename_component(runtime_dir "${runtime_path}" DIRECTORY)
        get_filename_component(runtime_dir "${runtime_dir}" REALPATH)
        list(APPEND OSTRELLE_WINE_DLL_DIRS "${runtime_dir}")
    endif()
endforeach()
# platforms/qoffscreen.dll is in Qt's plugin folder.
set(OSTRELLE_WINE_PLUGIN_DIR "$<TARGET_FILE_DIR:Qt6::QOffscreenIntegrationPlugin>/..")

configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.sh.in ${CMAKE_BINARY_DIR}/wine-emulator.sh.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-emulator.sh INPUT ${CMAKE_BINARY_DIR}/wine-emulator.sh.in
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-emulator.sh)
