cmake_minimum_required(VERSION 3.25)
# Builds Dovemarl.dll a second time, from a copy of the sources in another
# folder into another build folder, and checks that it is byte for byte the
# DLL of the build under test: a host author can then check a released DLL
# against the sources by building it. Prints both files' SHA-256.
#   cmake -DDLL=... -DSOURCE=... -DWORK=... -DTOOLCHAIN=... -DGENERATOR=...
#         -DBUILD_TYPE=... -DTRAP_UNDEFINED=ON|OFF -P check_reproducible.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/require_defined.cmake)
require_defined(DLL SOURCE WORK TOOLCHAIN GENERATOR BUILD_TYPE TRAP_UNDEFINED)

# A clean start: the copy of the sources and its build folder.
set(copy "${WORK}/source")
set(build "${WORK}/build")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${copy}")

# Everything at the top of the source tree but the history, the build folders
# (any folder with a CMake cache, the build under test among them, and the
# release's build-release/) and the release zips in dist/.
file(GLOB entries LIST_DIRECTORIES true "${SOURCE}/*")
foreach(entry IN LISTS entries)
    get_filename_component(name "${entry}" NAME)
    if(name MATCHES "^(\\.git|build.*|dist)$" OR EXISTS "${entry}/CMakeCache.txt")
        continue()
    endif()
    file(COPY "${entry}" DESTINATION "${copy}")
endforeach()

execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${copy} -B ${build} -G ${GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${copy}/cmake/${TOOLCHAIN} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
            -DDOVEMARL_TRAP_UNDEFINED=${TRAP_UNDEFINED}
    OUTPUT_FILE "${WORK}/configure.log" ERROR_FILE "${WORK}/configure.log"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the second build failed; see ${WORK}/configure.log")
endif()
execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${build} --target Dovemarl -j 2
    OUTPUT_FILE "${WORK}/build.log" ERROR_FILE "${WORK}/build.log"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the second build failed; see ${WORK}/build.log")
endif()

set(second "${build}/bin/Dovemarl.dll")
file(SHA256 "${DLL}" hash)
file(SHA256 "${second}" second_hash)
message(STATUS "build under test: ${hash}  ${DLL}")
message(STATUS "second build:     ${second_hash}  ${second}")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${DLL}" "${second}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "FAILED: the two builds of Dovemarl.dll differ (the second is kept in "
                        "${build}); compare them with cmp -l")
endif()
message(STATUS "ok: the two builds of Dovemarl.dll are identical")
file(REMOVE_RECURSE "${WORK}")
