# Checks the built Dovemarl.dll with the toolchain's objdump: a PE32 i386
# image named Dovemarl.dll that exports exactly pluginload, pluginrun and
# pluginunload (ordinals 1-3, undecorated), imports only Windows system DLLs
# and carries one manifest resource.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
message(STATUS "${dump}")
