cmake_minimum_required(VERSION 3.25)
# scripts/release.sh (SCRIPT) refuses a work tree with uncommitted changes
# before it builds anything, and names them: the zip must match a commit.
# Tried in a throwaway repository that holds the script: with a changed file,
# a new file in a new folder (which the build's source globs would take in),
# and that file staged.
#   cmake -DSCRIPT=... -DWORK=... -P check_release_script.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/require_defined.cmake)
require_defined(SCRIPT WORK)
find_program(GIT git REQUIRED)

set(repository "${WORK}/repository")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${repository}/scripts")
file(COPY "${SCRIPT}" DESTINATION "${repository}/scripts")
file(WRITE "${repository}/tracked.txt" "as committed\n")

function(git)
    execute_process(COMMAND ${GIT} -c user.name=test -c user.email=test@invalid ${ARGN}
                    WORKING_DIRECTORY "${repository}" OUTPUT_QUIET ERROR_QUIET
                    COMMAND_ERROR_IS_FATAL ANY)
endfunction()
git(init -q)
git(add -A)
git(commit -q -m "the script")

function(expect_refusal case path)
    execute_process(COMMAND bash scripts/release.sh WORKING_DIRECTORY "${repository}"
                    OUTPUT_VARIABLE said ERROR_VARIABLE said RESULT_VARIABLE rc TIMEOUT 60)
    if(rc EQUAL 0 OR NOT said MATCHES "uncommitted changes" OR NOT said MATCHES "${path}")
        message(SEND_ERROR "FAILED: ${case}: exit status ${rc}, and it said:\n${said}")
    elseif(EXISTS "${repository}/build-release" OR EXISTS "${repository}/dist")
        message(SEND_ERROR "FAILED: ${case}: refused, but only after it began to build")
    else()
        message(STATUS "ok: ${case}: refused, naming ${path}")
    endif()
endfunction()

file(WRITE "${repository}/tracked.txt" "changed\n")
expect_refusal("a changed file" tracked.txt)
git(checkout -q -- tracked.txt)
file(MAKE_DIRECTORY "${repository}/src")
file(WRITE "${repository}/src/extra.cpp" "int extra;\n")
expect_refusal("a new file in a new folder" src/extra.cpp)
git(add src/extra.cpp)
expect_refusal("a staged file" src/extra.cpp)
