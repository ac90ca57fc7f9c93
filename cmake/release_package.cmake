cmake_minimum_required(VERSION 3.25)
# Packs a release: OUT/dovemarl-VERSION-win32.zip, and beside it the zip's
# SHA-256 in OUT/dovemarl-VERSION-win32.zip.sha256.
#   cmake -DSOURCE=... -DDLL=... -DHOST=... -DQUERY=... -DVERSION=1.2.3 -DCOMMIT=<40 hex>
#         -DTIME=<seconds since 1970> -DOUT=... -P release_package.cmake
# SOURCE is the source tree (texts, license, release notes, contract header);
# DLL, HOST and QUERY are the built Dovemarl.dll, standin-host.exe and
# sableroot.dll; COMMIT and TIME name the commit the release is made from.
#
# The same inputs give the same zip, byte for byte, wherever and whenever it
# is made: the files go in in a fixed order, each with the commit's time (in
# UTC) and the same permissions, without directory entries and without the
# extra fields that would record their owner or access times.
include(${CMAKE_CURRENT_LIST_DIR}/require_defined.cmake)
require_defined(SOURCE DLL HOST QUERY VERSION COMMIT TIME OUT)
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "release_package.cmake: '${VERSION}' is not a version (1.2.3)")
endif()
if(NOT COMMIT MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "release_package.cmake: '${COMMIT}' is not a commit id")
endif()
# A zip records times from 1980 on.
if(NOT TIME MATCHES "^[0-9]+$" OR TIME LESS 315532800)
    message(FATAL_ERROR "release_package.cmake: '${TIME}' is not a time after 1980")
endif()

find_program(ZIP_PROGRAM zip)
if(NOT ZIP_PROGRAM)
    message(FATAL_ERROR "release_package.cmake: zip is not installed (./scripts/setup.sh "
                        "installs it)")
endif()

set(name "dovemarl-${VERSION}-win32")
set(stage "${OUT}/${name}")
set(zip "${OUT}/${name}.zip")
file(REMOVE_RECURSE "${stage}")
file(REMOVE "${zip}" "${zip}.sha256")
file(MAKE_DIRECTORY "${stage}")

# The notes must be this version's: the newest section of CHANGELOG.md.
file(READ "${SOURCE}/CHANGELOG.md" notes)
string(REGEX MATCH "\n## ([^\n ]+)" _ "\n${notes}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "CHANGELOG.md: the newest section is '${CMAKE_MATCH_1}', not "
                        "'${VERSION}': write this version's notes first")
endif()

# What the zip holds, in this order: each file's name in the zip and where it
# comes from. The stand-in host and its query library go into a folder of
# their own, so that a player who copies everything beside the game does not
# replace the game's own sableroot.dll.
set(contents
    README-players.txt "${SOURCE}/docs/release/players.txt"
    README-host-authors.txt "${SOURCE}/docs/release/host-authors.txt"
    README-plugin-authors.txt "${SOURCE}/docs/release/plugin-authors.txt"
    CHANGELOG.txt "${SOURCE}/CHANGELOG.md"
    LICENSE.txt "${SOURCE}/LICENSE"
    THIRD-PARTY-NOTICES.txt "${SOURCE}/docs/release/third-party-notices.txt"
    Dovemarl.dll "${DLL}"
    include/dovemarl/plugin_contract.h "${SOURCE}/include/dovemarl/plugin_contract.h"
    standin/standin-host.exe "${HOST}"
    standin/sableroot.dll "${QUERY}")

# The notices of the toolchain's runtime linked into the programs follow our
# own words: the copyright file of the mingw-w64 package they were built with.
set(RUNTIME_NOTICES /usr/share/doc/mingw-w64-i686-dev/copyright)
if(NOT EXISTS "${RUNTIME_NOTICES}")
    message(FATAL_ERROR "release_package.cmake: ${RUNTIME_NOTICES} is missing (the "
                        "mingw-w64 package, which scripts/setup.sh installs)")
endif()

# The release notes start with the release and the commit it was made from.
string(CONCAT notes_heading "Dovemarl ${VERSION} for 32-bit Windows, made from commit ${COMMIT}.\n"
       "./scripts/release.sh on that commit makes this zip again, byte for byte.\n\n")

# The texts get Windows line ends: they are read in Notepad, which before
# Windows 10 (1809) shows a file with bare line feeds as one long line. They
# must be plain ASCII, which every code page shows alike. The contract header
# stays as it is in the sources, byte for byte.
function(windows_text out from heading)
    file(READ "${from}" text)
    string(REGEX MATCH "[^\t\r\n -~]" foreign "${text}")
    if(NOT foreign STREQUAL "")
        message(FATAL_ERROR "${from}: a character other than plain ASCII; the zip's texts "
                            "are read in any Windows code page")
    endif()
    string(REPLACE "\r\n" "\n" text "${heading}${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(stage_text from to heading)
    windows_text(text "${from}" "${heading}")
    file(WRITE "${to}" "${text}")
endfunction()

# The notices: our plain ASCII words, then the runtime's notices, which name
# people in UTF-8. The whole file is UTF-8 with a byte order mark, by which
# Notepad tells it from the ANSI code page.
function(stage_notices from to)
    windows_text(head "${from}" "")
    file(READ "${RUNTIME_NOTICES}" notices)
    string(REPLACE "\r\n" "\n" notices "${notices}")
    string(REPLACE "\n" "\r\n" notices "${notices}")
    string(ASCII 239 187 191 byte_order_mark)
    file(WRITE "${to}" "${byte_order_mark}${head}${notices}")
endfunction()

set(names "")
list(LENGTH contents count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET contents ${i} entry)
    list(GET contents ${j} from)
    if(NOT EXISTS "${from}")
        message(FATAL_ERROR "release_package.cmake: ${from} is missing")
    endif()
    get_filename_component(folder "${stage}/${entry}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    if(entry STREQUAL "CHANGELOG.txt")
        stage_text("${from}" "${stage}/${entry}" "${notes_heading}")
    elseif(entry STREQUAL "THIRD-PARTY-NOTICES.txt")
        stage_notices("${from}" "${stage}/${entry}")
    elseif(entry MATCHES "\\.txt$")
        stage_text("${from}" "${stage}/${entry}" "")
    else()
        file(COPY_FILE "${from}" "${stage}/${entry}")
    endif()
    list(APPEND names "${entry}")
endforeach()

# SHA256SUMS, in the zip's order, as sha256sum writes and checks it.
set(sums "")
foreach(entry IN LISTS names)
    file(SHA256 "${stage}/${entry}" hash)
    string(APPEND sums "${hash}  ${entry}\n")
endforeach()
file(WRITE "${stage}/SHA256SUMS" "${sums}")
list(APPEND names SHA256SUMS)

# Every file gets the commit's time and the same permissions, whatever the
# copies got from the umask and the clock.
list(TRANSFORM names PREPEND "${stage}/" OUTPUT_VARIABLE staged)
file(CHMOD ${staged} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND touch -d "@${TIME}" ${staged} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "release_package.cmake: could not set the files' times")
endif()

# zip writes local times: in UTC they are the same everywhere. -X leaves out
# the owner and the access and change times, -D the directory entries. Its
# options from the environment (ZIPOPT, ZIP) are not taken.
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=ZIPOPT --unset=ZIP TZ=UTC
            ${ZIP_PROGRAM} -X -D -9 -q "${zip}" ${names}
    WORKING_DIRECTORY "${stage}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "release_package.cmake: zip failed (${rc})")
endif()
file(REMOVE_RECURSE "${stage}")

file(SHA256 "${zip}" hash)
file(SIZE "${zip}" size)
file(WRITE "${zip}.sha256" "${hash}  ${name}.zip\n")
list(JOIN names "\n    " listing)
message(STATUS "release: ${zip}\n    ${listing}\n  ${size} bytes, SHA-256 ${hash}")
