cmake_minimum_required(VERSION 3.25)
# Runs the stand-in host's lifecycle doctor (HOST --lifecycle, through WINE)
# on Dovemarl.dll and on each lifecycle double in DOUBLES, and checks its exit
# status, the faults it names and the checks that must find none. Reports go
# to LOGS/<case>.log.

include(${CMAKE_CURRENT_LIST_DIR}/host_run.cmake)
file(MAKE_DIRECTORY ${LOGS})

# CHECKS lists the checks to run (all of them when it is empty), CLEAN those
# that must report no fault.
function(run_case name plugin)
    cmake_parse_arguments(C "" "STATUS" "EXPECT;CLEAN;CHECKS" ${ARGN})
    set(picked "")
    if(C_CHECKS)
        list(JOIN C_CHECKS "," joined)
        set(picked --checks ${joined})
    endif()
    host_run(${name} LOG ${LOGS}/${name}.log TIMEOUT 300 STATUS ${C_STATUS} EXPECT ${C_EXPECT}
             COMMAND ${WINE} ${HOST} --lifecycle --cycles 12 ${picked} ${plugin})
    foreach(check IN LISTS C_CLEAN)
        if(output MATCHES "lifecycle fault: ${check}:")
            set(ok FALSE)
            message(SEND_ERROR "${name}: the ${check} check reported a fault")
        endif()
    endforeach()
    host_report(${name} ${ok} "${status}" "${output}")
endfunction()

set(all attach load-cycles run-unload run-cycles)
# The checks of the faults that do not grow with each run.
set(three attach load-cycles run-unload)

# Dovemarl.dll and a clean double pass: every figure is measured, no fault.
foreach(case dovemarl clean)
    if(case STREQUAL dovemarl)
        set(plugin "")
    else()
        set(plugin ${DOUBLES}/clean.dll)
    endif()
    run_case(${case} "${plugin}" STATUS 0 CLEAN ${all}
             EXPECT "imports: [^\n]*KERNEL32.dll" "handles [0-9]+ -> [0-9]+ \\(\\+0.00 per cycle\\)"
                    "threads [0-9]+ -> [0-9]+ \\(\\+0.00 per cycle\\)"
                    "attach made no window and no thread" "pluginrun returned"
                    "box '[^']+' answered" "global atoms [0-9]+ -> [0-9]+ \\(\\+0.00 per cycle\\)"
                    "GDI objects [0-9]+ -> [0-9]+ \\(\\+0.00 per cycle\\)"
                    "lifecycle: sound \\(4 checks, no fault\\)")
endforeach()

# One fault each, named by the check that finds it; the other checks pass.
# (The clean double does all the doubles do but the fault, and runs every
# check; a double runs the checks that find its fault and those beside them
# that must not.)
run_case(handle_per_load ${DOUBLES}/handle_per_load.dll STATUS 4 CLEAN attach run-unload
         EXPECT "lifecycle fault: load-cycles: handles grow by \\+1.00 \\(Event \\+1.00\\) per load and unload"
                "lifecycle fault: run-cycles: handles grow by \\+1.00 \\(Event \\+1.00\\) per full run"
                "lifecycle: 2 fault")
# The thread is named by the look right after the unload or, should it crash
# first, by the crash line; the crash itself comes within its 100 ms nap.
run_case(thread_left ${DOUBLES}/thread_left.dll STATUS 4 CHECKS ${three} CLEAN attach load-cycles
         EXPECT "lifecycle fault: run-unload: [^\n]*thread [0-9]+ started at 0x[0-9a-f]+ [^\n]*the unloaded image"
                "lifecycle fault: run-unload: crashed in step '[^']+': exception 0xc0000005 at 0x[0-9a-f]+ \\(inside the unloaded image of thread_left.dll\\)")
run_case(window_left ${DOUBLES}/window_left.dll STATUS 4 CHECKS ${three} CLEAN attach load-cycles
         EXPECT "lifecycle fault: run-unload: window of class 'LifecycleDoubleWindow' on thread [0-9]+ has its procedure 0x[0-9a-f]+ in the unloaded image"
                "lifecycle fault: run-unload: window class 'LifecycleDoubleWindow' stays registered with its procedure 0x[0-9a-f]+ in the unloaded image")
# A class without a window is found through its name's atom.
run_case(class_left ${DOUBLES}/class_left.dll STATUS 4 CHECKS ${three} CLEAN attach load-cycles
         EXPECT "lifecycle fault: run-unload: window class 'LifecycleDoubleLeftClass' stays registered with its procedure 0x[0-9a-f]+ in the unloaded image"
                "lifecycle: 1 fault")
run_case(window_at_attach ${DOUBLES}/window_at_attach.dll STATUS 4 CHECKS ${three} CLEAN load-cycles run-unload
         EXPECT "lifecycle fault: attach: attach made window\\(s\\) under the loader lock: [^\n]*'Static' \\(message-only\\)"
                "lifecycle: 1 fault")
run_case(comctl32_import ${DOUBLES}/comctl32_import.dll STATUS 4 CHECKS ${three} CLEAN load-cycles run-unload
         EXPECT "lifecycle fault: attach: imports (comctl32|COMCTL32).(dll|DLL): its attach under the loader lock can hang"
                "lifecycle: 1 fault")

# winmm is named at attach, and its leak at each unload shows in the cycles.
run_case(winmm_import ${DOUBLES}/winmm_import.dll STATUS 4 CHECKS ${three} CLEAN run-unload
         EXPECT "lifecycle fault: attach: imports (winmm|WINMM).(dll|DLL): it leaks handles each time it is unloaded"
                "lifecycle fault: load-cycles: handles grow by \\+[1-9][0-9.]* [^\n]*per load and unload")

# ole32 reached through oleaut32: named with the way it comes, although this
# host has both loaded already.
run_case(ole32_indirect ${DOUBLES}/ole32_indirect.dll STATUS 4 CHECKS ${three} CLEAN load-cycles run-unload
         EXPECT "lifecycle fault: attach: (ole32|OLE32).(dll|DLL) comes with the load, imported through (oleaut32|OLEAUT32).(dll|DLL) -> (ole32|OLE32).(dll|DLL): its attach under the loader lock can hang"
                "lifecycle: 1 fault")

# A plug-in that hangs the check process: the step is named, the process
# ended, and the doctor goes on to report the other checks.
run_case(hang_in_unload ${DOUBLES}/hang_in_unload.dll STATUS 4 CHECKS ${three} CLEAN attach load-cycles
         EXPECT "lifecycle fault: run-unload: step 'pluginunload' did not finish within [0-9]+ s; the check process was ended"
                "handles [0-9]+ -> [0-9]+ \\(\\+0.00 per cycle\\)" "lifecycle: 1 fault")

# A plug-in that leaves work for the process's exit: the check process
# crashes after it wrote "done", and that is its fault, named with the exit
# step (by the crash line or, failing that, by the exception the process
# ended with).
run_case(crash_at_exit ${DOUBLES}/crash_at_exit.dll STATUS 4 CHECKS ${three} CLEAN attach load-cycles
         EXPECT "lifecycle fault: run-unload: [^\n]*'exit of the check process'[^\n]*exception 0xc0000005"
                "lifecycle: 1 fault")

# A DLL loaded and freed again by the entry point: no module list shows it,
# the loader's notifications do.
run_case(library_at_attach ${DOUBLES}/library_at_attach.dll STATUS 4 CHECKS attach
         EXPECT "lifecycle fault: attach: (msimg32|MSIMG32).(dll|DLL) was loaded during attach and freed again before the load returned: the plug-in's entry point loaded it under the loader lock"
                "lifecycle: 1 fault\\(s\\) in 1 check")

# Callbacks left with the system, each called as the host goes on after the
# unload, caught and named with its address in the unloaded image.
set(called "0x[0-9a-f]+ in the unloaded image was called on thread [0-9]+")
foreach(case "timer|timer procedure ${called} while the host served its messages"
             "hook|hook procedure ${called} while the host served its messages"
             "vectored|vectored exception handler ${called} while the host raised and handled an exception"
             "filter|the process's unhandled-exception filter is 0x[0-9a-f]+ in the unloaded image")
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 left)
    list(GET parts 1 fault)
    run_case(${left}_left ${DOUBLES}/${left}_left.dll STATUS 4 CHECKS run-unload
             EXPECT "lifecycle fault: run-unload: ${fault}" "lifecycle: 1 fault\\(s\\) in 1 check")
endforeach()
run_case(subclass_left ${DOUBLES}/subclass_left.dll STATUS 4 CHECKS run-unload
         EXPECT "lifecycle fault: run-unload: window procedure ${called} while the host served its messages"
                "lifecycle fault: run-unload: window of class 'StandinGameWindow' on thread [0-9]+ has its procedure 0x[0-9a-f]+ in the unloaded image"
                "lifecycle: 2 fault\\(s\\) in 1 check")
# The FLS slot is freed after the unload, which calls its callback; in the
# run cycles, where nothing frees it, each run takes another.
run_case(fls_left ${DOUBLES}/fls_left.dll STATUS 4 CHECKS run-unload run-cycles
         EXPECT "lifecycle fault: run-unload: FLS callback ${called} \\(slot [0-9]+\\) while the host freed an FLS slot"
                "lifecycle fault: run-cycles: FLS slots in use grow by \\+1.00 per full run")
# A worker started through the C runtime and parked in a wait: neither its
# start nor its instruction is in the image, its stack is.
run_case(worker_left ${DOUBLES}/worker_left.dll STATUS 4 CHECKS run-unload
         EXPECT "lifecycle fault: run-unload: thread [0-9]+, started at 0x[0-9a-f]+ outside the image, waits in 0x[0-9a-f]+ with a return address 0x[0-9a-f]+ into the unloaded image on its stack"
                "lifecycle: 1 fault\\(s\\) in 1 check")

# What a run takes and its unload does not give back, one kind each.
foreach(kind "brush|GDI objects grow by \\+1.00" "heap|private heaps grow by \\+1.00"
             "tls|TLS slots in use grow by \\+1.00" "atom|global atoms grow by \\+1.00"
             "memory|committed private memory \\(KiB\\) grow by \\+1[0-9][0-9][0-9]")
    string(REPLACE "|" ";" parts "${kind}")
    list(GET parts 0 left)
    list(GET parts 1 growth)
    run_case(${left}_left ${DOUBLES}/${left}_left.dll STATUS 4 CHECKS run-cycles
             EXPECT "lifecycle fault: run-cycles: ${growth}[^\n]* per full run"
                    "lifecycle: 1 fault\\(s\\) in 1 check")
endforeach()
