# Runs the fuzzer for a bounded time on a copy of the committed corpus, so the
# corpus in the tree never changes; prints libFuzzer's final figures.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${CORPUS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
            -artifact_prefix=${WORK}/ ${WORK}/corpus
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message("${output}")
    message(FATAL_ERROR "population_fuzz failed (${result}); the failing input is in ${WORK}")
endif()
string(REGEX MATCHALL "(stat::[a-z_]+: *[0-9]+|Done [0-9]+ runs in [0-9]+ second\\(s\\))" figures "${output}")
foreach(line IN LISTS figures)
    message("${line}")
endforeach()
