# Cross-compiles for 32-bit x86 Windows with Debian's clang and lld, against the
# same mingw-w64 headers, import libraries and GCC runtime libraries as
# cmake/mingw-i686.cmake, so that both compilers build the same program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
# The resources go through mingw's windres and the archives through mingw's ar,
# as with GCC: nothing depends on which LLVM tools happen to be installed.
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR ${TOOLCHAIN_PREFIX}-ar)
set(CMAKE_RANLIB ${TOOLCHAIN_PREFIX}-ranlib)

# The mingw-w64 headers and libraries. With the sysroot given, clang also stops
# searching the build machine's own /usr/include.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Debian keeps libstdc++, libgcc and GCC's crtbegin.o/crtend.o in the folder of
# the POSIX-threads GCC, which clang does not find by itself; ask that GCC.
execute_process(COMMAND ${TOOLCHAIN_PREFIX}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc_file OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE libgcc_rc)
if(NOT libgcc_rc EQUAL 0 OR NOT EXISTS "${libgcc_file}")
    message(FATAL_ERROR "${TOOLCHAIN_PREFIX}-g++-posix is needed for its runtime libraries")
endif()
get_filename_component(MINGW_GCC_LIBRARY_DIR "${libgcc_file}" DIRECTORY)
set(gcc_cxx_include ${MINGW_GCC_LIBRARY_DIR}/include/c++)

# libstdc++'s headers, as that GCC sees them (clang's own intrinsics headers
# stay in use).
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${gcc_cxx_include} -isystem ${gcc_cxx_include}/${TOOLCHAIN_PREFIX} -isystem ${gcc_cxx_include}/backward")

# -B makes the driver link GCC's crtbegin.o and crtend.o, which register the
# DWARF unwind tables with libgcc; with the sysroot's stand-ins in their place
# every throw ends in abort(). -L finds libstdc++ and libgcc. The POSIX-threads
# libstdc++ and libgcc need winpthread, which GCC's driver adds by itself and
# clang's does not (lld takes archives in any order, so it may come first).
set(link_flags "-fuse-ld=lld -B${MINGW_GCC_LIBRARY_DIR} -L${MINGW_GCC_LIBRARY_DIR} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")

# lld 14 writes an export table with ordinal base 0 and a slot for every
# ordinal from 0, slot 0 left empty. An export table that comes in an input
# object takes the place of the one it would write, so the DLL's table is made
# from its .def file by mingw's dlltool, with ordinal base 1 and one slot per
# export, as GNU ld makes it (see CMakeLists.txt).
set(DOVEMARL_EXPORTS_TOOL ${TOOLCHAIN_PREFIX}-dlltool)

# Test and demo executables run through Wine, with the loader of the Windows
# configuration the session runs in (scripts/wine.sh).
find_program(DEBIAN_WINE wine REQUIRED)
get_filename_component(WINE_PROGRAM ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
