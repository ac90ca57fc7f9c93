cmake_minimum_required(VERSION 3.25)
# Packs the build under test as scripts/release.sh packs a commit's build
# (PACKAGER, cmake/release_package.cmake), and checks the zip as a person who
# downloads it would: what it lists and how, its checksums, the files it
# unpacks to, and the unpacked stand-in host running the unpacked Dovemarl.dll
# under WINE (--version, --auto, --lifecycle). A second packing from copies in
# other folders, with other file times and permissions, another time zone and
# umask and zip options in the environment, must give the same bytes.
#   cmake -DPACKAGER=... -DSOURCE=... -DDLL=... -DHOST=... -DQUERY=... -DVERSION=...
#         -DWINE=... -DWORK=... -P check_release_package.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/require_defined.cmake)
require_defined(PACKAGER SOURCE DLL HOST QUERY VERSION WINE WORK)
include(${CMAKE_CURRENT_LIST_DIR}/../host/host_run.cmake)

# A made-up commit, and a time with hours, minutes and seconds (even: a zip
# keeps times to two seconds): 2026-12-10 13:47:58 UTC.
set(commit 0123456789abcdef0123456789abcdef01234567)
set(time 1796910478)
set(zip_name dovemarl-${VERSION}-win32.zip)
set(listing README-players.txt README-host-authors.txt README-plugin-authors.txt CHANGELOG.txt
            LICENSE.txt THIRD-PARTY-NOTICES.txt Dovemarl.dll include/dovemarl/plugin_contract.h
            standin/standin-host.exe standin/sableroot.dll SHA256SUMS)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Packs into OUT, the command run through the PREFIX given (if any).
function(package out source dll host query)
    execute_process(
        COMMAND ${ARGN} ${CMAKE_COMMAND} -DSOURCE=${source} -DDLL=${dll} -DHOST=${host}
                -DQUERY=${query} -DVERSION=${VERSION} -DCOMMIT=${commit} -DTIME=${time}
                -DOUT=${out} -P ${PACKAGER}
        OUTPUT_FILE "${out}.log" ERROR_FILE "${out}.log" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        file(READ "${out}.log" log)
        message(FATAL_ERROR "packing into ${out} failed:\n${log}")
    endif()
endfunction()

# --- Two packings, compared byte for byte.
package("${WORK}/first" "${SOURCE}" "${DLL}" "${HOST}" "${QUERY}")
set(zip "${WORK}/first/${zip_name}")

# The second from copies: the sources without history, build or dist folders,
# and the three built files, all with an old time and private permissions.
set(copies "${WORK}/elsewhere/deeper")
file(MAKE_DIRECTORY "${copies}/source" "${copies}/bin")
file(GLOB entries LIST_DIRECTORIES true "${SOURCE}/*")
foreach(entry IN LISTS entries)
    get_filename_component(name "${entry}" NAME)
    if(NOT name MATCHES "^(\\.git|build.*|dist)$" AND NOT EXISTS "${entry}/CMakeCache.txt")
        file(COPY "${entry}" DESTINATION "${copies}/source")
    endif()
endforeach()
file(COPY "${DLL}" "${HOST}" "${QUERY}" DESTINATION "${copies}/bin")
execute_process(COMMAND find "${copies}" -type f -exec touch -d @1000000000 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND chmod -R go-rwx "${copies}" COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(dll_name "${DLL}" NAME)
get_filename_component(host_name "${HOST}" NAME)
get_filename_component(query_name "${QUERY}" NAME)
package("${WORK}/elsewhere/second" "${copies}/source" "${copies}/bin/${dll_name}"
        "${copies}/bin/${host_name}" "${copies}/bin/${query_name}"
        ${CMAKE_COMMAND} -E env TZ=KIT-14 ZIPOPT=-l
        sh -c "umask 077 && exec \"$@\"" umask)
set(second "${WORK}/elsewhere/second/${zip_name}")
file(SHA256 "${zip}" hash)
file(SHA256 "${second}" second_hash)
if(NOT hash STREQUAL second_hash)
    message(SEND_ERROR "FAILED: the two packings differ (${hash} and ${second_hash}); "
                       "compare ${zip} and ${second} with cmp -l")
else()
    message(STATUS "ok: two packings in other folders, times, zones and umasks: ${hash}")
endif()
file(READ "${zip}.sha256" sidecar)
if(NOT sidecar STREQUAL "${hash}  ${zip_name}\n")
    message(SEND_ERROR "FAILED: ${zip_name}.sha256 reads '${sidecar}', the zip's is ${hash}")
endif()

# --- The zip's own records: the central directory and each local header.
# Reads a little-endian number of SIZE bytes at byte OFFSET of the hex text in
# variable HEX.
function(number out hex offset size)
    set(digits "")
    foreach(i RANGE 1 ${size})
        math(EXPR at "(${offset} + ${size} - ${i}) * 2")
        string(SUBSTRING "${${hex}}" ${at} 2 byte)
        string(APPEND digits "${byte}")
    endforeach()
    math(EXPR value "0x${digits}")
    set(${out} ${value} PARENT_SCOPE)
endfunction()

# Every entry in the expected order, with nothing but its name, the commit's
# time in UTC (two-second steps) and permissions rw-r--r-- on a regular file:
# no extra fields (owner, access times), no comments, no directory entries.
set(ENV{SOURCE_DATE_EPOCH} ${time})
foreach(field Y m d H M S)
    string(TIMESTAMP ${field} "%${field}" UTC)
endforeach()
unset(ENV{SOURCE_DATE_EPOCH})
math(EXPR dos_date "((${Y} - 1980) << 9) | (${m} << 5) | ${d}")
math(EXPR dos_time "(${H} << 11) | (${M} << 5) | (${S} / 2)")
# 0x81a4 is octal 100644: a regular file, rw-r--r--.
math(EXPR regular_rw_r_r "0x81a4 << 16")

file(SIZE "${zip}" size)
math(EXPR end "${size} - 22")
file(READ "${zip}" tail OFFSET ${end} HEX)
number(signature tail 0 4)
number(count tail 10 2)
number(directory_size tail 12 4)
number(directory_start tail 16 4)
if(NOT signature EQUAL 0x06054b50)
    message(FATAL_ERROR "FAILED: ${zip} does not end with a zip's end record (a comment?)")
endif()
file(READ "${zip}" directory OFFSET ${directory_start} LIMIT ${directory_size} HEX)
set(names "")
set(at 0)
foreach(i RANGE 1 ${count})
    number(signature directory ${at} 4)
    if(NOT signature EQUAL 0x02014b50)
        message(FATAL_ERROR "FAILED: entry ${i} of the central directory is broken")
    endif()
    number(flags directory "${at} + 8" 2)
    # Bits 0 and 3: encrypted, sizes in a descriptor after the data.
    math(EXPR flags "${flags} & 0x9")
    number(entry_time directory "${at} + 12" 2)
    number(entry_date directory "${at} + 14" 2)
    number(name_size directory "${at} + 28" 2)
    number(extra_size directory "${at} + 30" 2)
    number(comment_size directory "${at} + 32" 2)
    number(attributes directory "${at} + 38" 4)
    number(local directory "${at} + 42" 4)
    math(EXPR name_at "(${at} + 46) * 2")
    math(EXPR name_digits "${name_size} * 2")
    string(SUBSTRING "${directory}" ${name_at} ${name_digits} name_hex)
    string(REGEX REPLACE "(..)" "\\1;" name_bytes "${name_hex}")
    set(name "")
    foreach(byte IN LISTS name_bytes)
        if(NOT byte STREQUAL "")
            math(EXPR code "0x${byte}")
            string(ASCII ${code} char)
            string(APPEND name "${char}")
        endif()
    endforeach()
    list(APPEND names "${name}")
    file(READ "${zip}" header OFFSET ${local} LIMIT 30 HEX)
    number(local_extra_size header 28 2)
    string(CONCAT got "flags ${flags}, extras ${extra_size}/${local_extra_size}, "
           "comment ${comment_size}, time ${entry_date}:${entry_time}, attributes ${attributes}")
    string(CONCAT want "flags 0, extras 0/0, comment 0, time ${dos_date}:${dos_time}, "
           "attributes ${regular_rw_r_r}")
    if(NOT got STREQUAL want)
        message(SEND_ERROR "FAILED: ${name}: ${got}; expected ${want}")
    endif()
    math(EXPR at "${at} + 46 + ${name_size} + ${extra_size} + ${comment_size}")
endforeach()
if(NOT names STREQUAL listing)
    message(SEND_ERROR "FAILED: the zip lists\n  ${names}\nexpected\n  ${listing}")
else()
    message(STATUS "ok: ${zip_name} lists ${count} files in order, each with only its name, "
                   "time and permissions")
endif()

# --- Unpacked (by libarchive, not by the zip program that made it) into an
# empty folder: exactly the files listed, the checksums right for every other
# one, the built files and the contract header as they are, texts with
# Windows line ends.
set(unpacked "${WORK}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zip}" WORKING_DIRECTORY "${unpacked}"
                COMMAND_ERROR_IS_FATAL ANY)
function(check_unpacked when)
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${unpacked}" "${unpacked}/*")
    set(expected ${listing})
    list(SORT found)
    list(SORT expected)
    if(NOT found STREQUAL expected)
        message(SEND_ERROR "FAILED: ${when}, the unpacked folder holds\n  ${found}")
    endif()
endfunction()
check_unpacked("unpacked")

execute_process(COMMAND sha256sum --check --strict SHA256SUMS WORKING_DIRECTORY "${unpacked}"
                OUTPUT_VARIABLE checked ERROR_VARIABLE checked RESULT_VARIABLE rc)
file(STRINGS "${unpacked}/SHA256SUMS" sums)
list(TRANSFORM sums REPLACE "^[0-9a-f]+  " "")
set(summed ${listing})
list(REMOVE_ITEM summed SHA256SUMS)
if(NOT rc EQUAL 0 OR NOT sums STREQUAL summed)
    message(SEND_ERROR "FAILED: SHA256SUMS (for ${sums}) does not check every other file:\n"
                       "${checked}")
else()
    message(STATUS "ok: sha256sum --check SHA256SUMS: every other file")
endif()

foreach(pair "Dovemarl.dll=${DLL}" "standin/standin-host.exe=${HOST}"
        "standin/sableroot.dll=${QUERY}"
        "include/dovemarl/plugin_contract.h=${SOURCE}/include/dovemarl/plugin_contract.h")
    string(REGEX MATCH "^([^=]+)=(.*)$" _ "${pair}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${unpacked}/${CMAKE_MATCH_1}"
                            "${CMAKE_MATCH_2}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(SEND_ERROR "FAILED: the zip's ${CMAKE_MATCH_1} is not ${CMAKE_MATCH_2}")
    endif()
endforeach()

# Read as bytes (file(READ) as text drops carriage returns): with every CR LF
# pair taken out, no CR or LF is left, and the last line has its line end.
foreach(text IN LISTS listing)
    if(text MATCHES "\\.txt$")
        file(READ "${unpacked}/${text}" bytes HEX)
        string(REGEX REPLACE "(..)" "\\1 " bytes "${bytes}")
        string(REPLACE "0d 0a " "" bare "${bytes}")
        if(bare MATCHES "(^| )0[ad] " OR NOT bytes MATCHES "0d 0a $")
            message(SEND_ERROR "FAILED: ${text} has a line without a Windows line end")
        endif()
    endif()
endforeach()
# The notices: UTF-8 with its byte order mark, and the licence of the threads
# library the stand-ins carry among them.
file(READ "${unpacked}/THIRD-PARTY-NOTICES.txt" start LIMIT 3 HEX)
file(READ "${unpacked}/THIRD-PARTY-NOTICES.txt" notices)
if(NOT start STREQUAL "efbbbf" OR NOT notices MATCHES "mingw-w64-libraries/winpthreads")
    message(SEND_ERROR "FAILED: THIRD-PARTY-NOTICES.txt (starting ${start}) lacks its byte "
                       "order mark or the winpthreads notice")
endif()
# The release notes: CHANGELOG.md whole, with this version as its newest
# section, after a heading that names the version and the commit (and holds
# no list separator of a CMake list joined by mistake).
file(READ "${unpacked}/CHANGELOG.txt" notes)
file(READ "${SOURCE}/CHANGELOG.md" changelog)
string(FIND "${notes}" "${changelog}" at)
string(LENGTH "${notes}" notes_length)
string(LENGTH "${changelog}" changelog_length)
string(SUBSTRING "${notes}" 0 ${at} heading)
math(EXPR rest "${notes_length} - ${at}")
if(at LESS_EQUAL 0 OR NOT rest EQUAL changelog_length OR heading MATCHES ";" OR
   NOT heading MATCHES "^Dovemarl ${VERSION} [^\n]* commit ${commit}" OR
   NOT changelog MATCHES "^[^#]*# [^\n]*\n+## ${VERSION}\n")
    message(SEND_ERROR "FAILED: CHANGELOG.txt is not CHANGELOG.md, newest section ${VERSION}, "
                       "under a heading naming the version and commit:\n${heading}")
endif()

# --- The unpacked stand-in host under Wine, started from an empty folder of
# its own (where --auto puts its pictures), with the unpacked Dovemarl.dll by
# its full Windows path (Wine's Z: is the Unix root). The plug-in finds the
# stand-in query library beside the host, as a host ships it.
set(run "${WORK}/run")
file(MAKE_DIRECTORY "${run}")
set(host "${unpacked}/standin/standin-host.exe")
string(REPLACE "/" "\\" plugin "Z:${unpacked}/Dovemarl.dll")
set(in_unpacked "[^\n]*unpacked\\\\Dovemarl\\.dll")
string(REPLACE "." "\\." version_pattern "${VERSION}")

host_run(version LOG ${WORK}/version.log TIMEOUT 60 STATUS 0
         EXPECT "^standin-host \\(Dovemarl\\) ${version_pattern}\r?\n$"
         COMMAND ${CMAKE_COMMAND} -E chdir ${run} ${WINE} ${host} --version)
host_report(version ${ok} "${status}" "${output}")

host_run(auto LOG ${WORK}/auto.log TIMEOUT 120 STATUS 0
         EXPECT "loaded ${in_unpacked}" "Hello from Dovemarl!"
                "Data retrieved from Sableroot\\.dll###\r?\n +Title: 'Tidewarden"
                "contract: met" "monitor: as expected" "Goodbye from Dovemarl!"
         COMMAND ${CMAKE_COMMAND} -E chdir ${run} ${WINE} ${host} --auto ${plugin})
host_report(auto ${ok} "${status}" "${output}")

host_run(lifecycle LOG ${WORK}/lifecycle.log TIMEOUT 300 STATUS 0
         EXPECT "lifecycle check of ${in_unpacked}" "lifecycle: sound \\(4 checks, no fault\\)"
         COMMAND ${CMAKE_COMMAND} -E chdir ${run} ${WINE} ${host} --lifecycle --cycles 12
                 ${plugin})
host_report(lifecycle ${ok} "${status}" "${output}")

# Running the tools leaves the unpacked folder as it was.
check_unpacked("after the runs")
