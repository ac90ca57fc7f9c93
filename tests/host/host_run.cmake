# Included by the stand-in host's checks: one run of the host and the checks
# every case makes of it.

# Runs COMMAND (the host, through WINE) with its output in LOG and LOG.err
# (Wine's output goes to a file: its background services can hold a pipe
# open), bounded by TIMEOUT seconds. Sets output and status in the caller, and
# ok there to FALSE (after saying why) when the exit status is not one of
# STATUS or the output lacks a pattern of EXPECT.
function(host_run name)
    cmake_parse_arguments(R "" "LOG;TIMEOUT" "COMMAND;STATUS;EXPECT" ${ARGN})
    execute_process(COMMAND ${R_COMMAND} OUTPUT_FILE ${R_LOG} ERROR_FILE ${R_LOG}.err
                    RESULT_VARIABLE status TIMEOUT ${R_TIMEOUT})
    file(READ ${R_LOG} output)
    set(ok TRUE)
    if(NOT status IN_LIST R_STATUS)
        set(ok FALSE)
        message(SEND_ERROR "${name}: exit status ${status}, expected one of ${R_STATUS}")
    endif()
    foreach(pattern IN LISTS R_EXPECT)
        if(NOT output MATCHES "${pattern}")
            set(ok FALSE)
            message(SEND_ERROR "${name}: output lacks '${pattern}'")
        endif()
    endforeach()
    set(output "${output}" PARENT_SCOPE)
    set(status "${status}" PARENT_SCOPE)
    set(ok ${ok} PARENT_SCOPE)
endfunction()

# Says how a case ended: ok, or what the host printed.
function(host_report name ok status output)
    if(ok)
        message(STATUS "ok: ${name} (exit status ${status})")
    else()
        message(STATUS "${name} printed:\n${output}")
    endif()
endfunction()
