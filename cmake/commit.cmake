# Writes OUT, the header that names the commit a build is made from, for
# the first line of a setup's report: GIVEN when the build names one, else
# what git says of SOURCE (with "+" when tracked files differ from that
# commit), else none. Run at every build; the file changes only when the
# commit does, so that nothing is compiled again for nothing.
#   cmake -DSOURCE=... -DOUT=... -DGIVEN=... -P commit.cmake
set(id "${GIVEN}")
if(id STREQUAL "")
    find_program(GIT_PROGRAM git)
    if(GIT_PROGRAM)
        execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE} rev-parse --short=12 HEAD
                        OUTPUT_VARIABLE id RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(failed)
            set(id "")
        elseif(NOT id STREQUAL "")
            execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE} diff --quiet HEAD --
                            RESULT_VARIABLE changed OUTPUT_QUIET ERROR_QUIET)
            if(changed EQUAL 1)
                string(APPEND id "+")
            endif()
        endif()
    endif()
endif()
# Only what a commit's name holds goes into the C string.
string(REGEX REPLACE "[^0-9A-Za-z+._-]" "" id "${id}")
set(text "// The commit this build is made from (cmake/commit.cmake); \"\" when unknown.\n#define TARNOK_COMMIT \"${id}\"\n")
set(old "")
if(EXISTS ${OUT})
    file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUT} "${text}")
endif()
