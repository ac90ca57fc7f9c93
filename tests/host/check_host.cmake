cmake_minimum_required(VERSION 3.25)
# Runs the stand-in host (HOST, through WINE) with --auto on Dovemarl.dll and
# on each contract double in DOUBLES, and checks its exit status and report.
# Pictures go into PICTURES/<case>.

include(${CMAKE_CURRENT_LIST_DIR}/host_run.cmake)
file(MAKE_DIRECTORY ${PICTURES})

# Runs the host on one plug-in (an empty plugin means its default) and checks
# the exit status against the allowed list and the output against each
# pattern; sets output and status in the caller.
function(run_case name plugin)
    cmake_parse_arguments(C "" "" "STATUS;EXPECT;PICTURES" ${ARGN})
    file(REMOVE_RECURSE ${PICTURES}/${name})
    host_run(${name} LOG ${PICTURES}/${name}.log TIMEOUT 120 STATUS ${C_STATUS} EXPECT ${C_EXPECT}
             COMMAND ${WINE} ${HOST} --auto --pictures ${PICTURES}/${name} ${plugin})
    foreach(picture IN LISTS C_PICTURES)
        set(file ${PICTURES}/${name}/${picture}.png)
        set(signature "")
        if(EXISTS ${file})
            file(READ ${file} signature LIMIT 8 HEX)
        endif()
        if(NOT signature STREQUAL "89504e470d0a1a0a")
            set(ok FALSE)
            message(SEND_ERROR "${name}: no PNG picture ${picture}.png")
        endif()
    endforeach()
    host_report(${name} ${ok} "${status}" "${output}")
    set(output "${output}" PARENT_SCOPE)
    set(status "${status}" PARENT_SCOPE)
endfunction()

# Dovemarl.dll: boxes answered and pictured, the contract met, and the
# monitor's labels following the game window.
run_case(dovemarl "" STATUS 0
         EXPECT "Hello from Dovemarl!" "Goodbye from Dovemarl!"
                "proposed title: \"Tidewarden - Hello from Dovemarl\"" "contract: met"
                "monitor: as expected"
         PICTURES box-1 box-2 box-3 box-4 monitor-before monitor-after)

# A plug-in that keeps the contract and shows a monitor of the record: the
# labels follow the game window and closing the monitor ends pluginrun.
run_case(well_behaved ${DOUBLES}/well_behaved.dll STATUS 0
         EXPECT "contract: met" "monitor: as expected" "labels followed the move"
                "proposed title: \"Tidewarden - proposed by the double\""
         PICTURES monitor-before monitor-after)

# One fault each (the decorated double decorates all three names); the host
# reports it, and only it, and carries on to pluginunload.
set(faults
    decorated 3 "decorated export pluginrun@4 instead of pluginrun"
    wrong_ordinals 2 "pluginload has ordinal 3, must be 1"
    cdecl 1 "pluginrun left 4 byte\\(s\\) of arguments on the stack"
    nonzero 1 "pluginrun returned 7, must return 0"
    writes_field 1 "pluginrun wrote winx \\(the host wrote 0x00000064, found 0x00003039\\)"
    bad_newtitle 1 "newtitle after pluginrun is an address of unreadable memory \\(0x00000010\\)"
    crash 1 "pluginrun crashed: exception 0xc00000")
list(LENGTH faults count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 3)
    math(EXPR j "${i} + 1")
    math(EXPR k "${i} + 2")
    list(GET faults ${i} name)
    list(GET faults ${j} ways)
    list(GET faults ${k} pattern)
    run_case(${name} ${DOUBLES}/${name}.dll STATUS 2
             EXPECT "${pattern}" "pluginunload done" "contract: broken in ${ways} way")
endforeach()
