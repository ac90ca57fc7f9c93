cmake_minimum_required(VERSION 3.25)
# Checks the built Dovemarl.dll with the toolchain's objdump: a PE32 i386
# image named Dovemarl.dll that exports exactly pluginload, pluginrun and
# pluginunload (ordinals 1 to 3, undecorated, in a table of three slots from
# ordinal base 1), carries no time stamps, does not refuse exception handlers
# (NO_SEH), imports only Windows system DLLs and carries one resource, the
# manifest (type 24, id 1, language 1033).
function(run_objdump flag out)
    execute_process(COMMAND ${OBJDUMP} ${flag} ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objdump ${flag} failed on ${DLL}")
    endif()
    set(${out} "${dump}" PARENT_SCOPE)
endfunction()

# Compares what was found with what is expected and prints both.
function(check what actual expected)
    if("${actual}" STREQUAL "${expected}")
        message(STATUS "ok: ${what}: ${actual}")
    else()
        message(SEND_ERROR "FAILED: ${what}: got '${actual}', expected '${expected}'")
    endif()
endfunction()

run_objdump(-f header)
run_objdump(-p details)

string(REGEX MATCH "file format ([^\n]+)" _ "${header}")
check("file format" "${CMAKE_MATCH_1}" "pei-i386")

# The module reads foreign texts under exception handlers of its own, which
# the system does not call in an image marked NO_SEH.
string(REGEX MATCH "DllCharacteristics[ \t]+([0-9a-f]+)" _ "${details}")
set(characteristics "${CMAKE_MATCH_1}")
if(characteristics STREQUAL "")
    message(SEND_ERROR "FAILED: no DllCharacteristics in the objdump output")
else()
    math(EXPR no_seh "0x${characteristics} & 0x400")
    check("DllCharacteristics NO_SEH (0x400) bit" "${no_seh}" "0")
endif()

# No time of the build in the image, so that the same sources give the same
# bytes: the file header's and the export table's time stamps are 0 (the
# header's checksum, which covers the whole file, then depends on nothing else).
string(REGEX MATCH "\nTime/Date[ \t]+([^\n]+)" _ "${details}")
check("file header time stamp" "${CMAKE_MATCH_1}" "Thu Jan  1 00:00:00 1970")
string(REGEX MATCH "\nTime/Date stamp[ \t]+([^\n]+)" _ "${details}")
check("export table time stamp" "${CMAKE_MATCH_1}" "0")

string(REGEX MATCH "\nName[ \t]+[0-9a-f]+ ([^\n]+)" _ "${details}")
check("export directory name" "${CMAKE_MATCH_1}" "Dovemarl.dll")

# The export address table starts at ordinal 1 and has one slot per export.
string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${details}")
set(base "${CMAKE_MATCH_1}")
check("ordinal base" "${base}" "1")
string(REGEX MATCH "Number in:\n[ \t]+Export Address Table[ \t]+([0-9a-f]+)" _ "${details}")
check("export address table slots" "${CMAKE_MATCH_1}" "00000003")

# Every filled slot of the export address table (objdump lists only those), by
# ordinal.
string(REGEX MATCH "Export Address Table -- Ordinal Base [0-9]+\n((\t\\[[ 0-9]+\\] [^\n]+\n)*)" _
       "${details}")
string(REGEX MATCHALL "\\+base\\[ *[0-9]+\\]" slots "${CMAKE_MATCH_1}")
set(ordinals "")
foreach(slot IN LISTS slots)
    string(REGEX REPLACE "\\+base\\[ *([0-9]+)\\]" "\\1" ordinal "${slot}")
    string(APPEND ordinals "${ordinal} ")
endforeach()
check("exported ordinals" "${ordinals}" "1 2 3 ")

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n((\t\\[[ 0-9]+\\] [^\n]+\n)*)" _ "${details}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" named "${CMAKE_MATCH_1}")
set(exports "")
foreach(entry IN LISTS named)
    string(REGEX REPLACE "\t\\[ *([0-9]+)\\] (.+)" "\\1;\\2" entry "${entry}")
    list(GET entry 0 index)
    list(GET entry 1 name)
    math(EXPR ordinal "${base} + ${index}")
    string(APPEND exports "${ordinal}=${name} ")
endforeach()
check("exports by ordinal" "${exports}" "1=pluginload 2=pluginrun 3=pluginunload ")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${details}")
# Exactly what a GUI host has loaded already. Nothing else: comctl32's attach
# can hang a host under the loader lock, and winmm, loaded on first use
# instead, leaks handles at every unload.
set(dlls "")
foreach(line IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOLOWER "${dll}" dll)
    list(APPEND dlls "${dll}")
endforeach()
list(SORT dlls)
list(JOIN dlls " " dlls)
check("imported DLLs" "${dlls}" "gdi32.dll kernel32.dll msvcrt.dll user32.dll")

string(REGEX MATCH "Resource Directory section:\n(.*)\n\n" _ "${details}")
set(resources "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "Entry: ID: 0x[0-9a-f]+" ids "${resources}")
string(REPLACE "Entry: ID: " "" ids "${ids}")
check("resource type, id and language" "${ids}" "0x000018;0x000001;0x000409")
