cmake_minimum_required(VERSION 3.25)
# Makes the object with the DLL's export table from its .def file, as dlltool
# makes it, but with the table's time stamp 0 instead of the time of the build,
# so that the same sources give the same image.
#   cmake -DDLLTOOL=... -DASSEMBLER=... -DDEF=file.def -DOUT=file.o -P export_table.cmake
# dlltool writes the table as assembly and assembles it; it is told to keep
# that assembly (-n -n, under the temporary prefix given with -t), whose time
# stamp line is then set to 0 and which is assembled again into OUT.
include(${CMAKE_CURRENT_LIST_DIR}/require_defined.cmake)
require_defined(DLLTOOL ASSEMBLER DEF OUT)

set(prefix "${OUT}.")
set(assembly "${prefix}c.s")
file(REMOVE "${assembly}")
execute_process(
    COMMAND ${DLLTOOL} -n -n -t ${prefix} --machine i386 --kill-at --input-def ${DEF}
            --output-exp ${OUT}
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS "${assembly}")
    message(FATAL_ERROR "${DLLTOOL} failed on ${DEF} or kept no ${assembly}")
endif()

file(READ "${assembly}" text)
# The line is "<tab>.long<tab>0x6b19b086<tab># Time and date".
set(stamp "(\t\\.long\t)0x[0-9a-fA-F]+(\t# Time and date\n)")
string(REGEX MATCHALL "${stamp}" found "${text}")
list(LENGTH found count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "${assembly}: expected one time stamp line, found ${count}")
endif()
string(REGEX REPLACE "${stamp}" "\\10\\2" text "${text}")
file(WRITE "${assembly}" "${text}")

execute_process(COMMAND ${ASSEMBLER} -o ${OUT} ${assembly} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ASSEMBLER} failed on ${assembly}")
endif()
file(REMOVE "${assembly}")
