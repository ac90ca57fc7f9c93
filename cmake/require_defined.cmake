# Included by the scripts run with cmake -P: stops, naming the script, at the
# first of the variables given that its caller did not set with -DNAME=...
function(require_defined)
    get_filename_component(script "${CMAKE_SCRIPT_MODE_FILE}" NAME)
    foreach(var IN LISTS ARGN)
        if(NOT DEFINED ${var})
            message(FATAL_ERROR "${script}: -D${var}=... is missing")
        endif()
    endforeach()
endfunction()
