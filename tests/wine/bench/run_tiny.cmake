# Runs the benchmark at its tiny size and checks that the JSON it wrote holds
# every section, filled. Times are not judged.
file(REMOVE ${OUT})
execute_process(COMMAND ${WINE_ENV} run ${DIR} ${BENCH} --tiny --exe ${EXE} --msi-dir ${MSI_DIR} --out ${OUT}
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the benchmark exited with ${rc}")
endif()
if(NOT EXISTS ${OUT})
    message(FATAL_ERROR "the benchmark wrote no ${OUT}")
endif()
file(READ ${OUT} json)

string(JSON population LENGTH "${json}" population)
string(JSON removal LENGTH "${json}" removal)
string(JSON startup LENGTH "${json}" startup)
if(NOT population EQUAL 1 OR NOT removal EQUAL 4 OR NOT startup EQUAL 1)
    message(FATAL_ERROR "expected 1 population, 4 removal and 1 start-up rows, got ${population}, ${removal}, ${startup}")
endif()

# The tiny machine: the catalog's keys give 6 miscellaneous and 16 release
# nodes under "Root", "registry", "VT" and "pV"; of the 10 seeded entries the
# one that matches hangs under its release; "TML" stays empty and goes.
string(JSON seeded GET "${json}" population 0 seeded)
string(JSON entries GET "${json}" population 0 entries)
string(JSON nodes GET "${json}" population 0 nodes)
string(JSON reads GET "${json}" population 0 profile getstringvalue_calls)
if(NOT seeded EQUAL 10 OR entries LESS 10 OR NOT nodes EQUAL 27)
    message(FATAL_ERROR "population row: seeded ${seeded}, entries ${entries}, nodes ${nodes}")
endif()
math(EXPR expected_reads "${entries} * 3")
if(NOT reads EQUAL expected_reads)
    message(FATAL_ERROR "population read ${reads} values for ${entries} entries")
endif()

# The subtree deletion goes level by level: one connection per key.
string(JSON keys GET "${json}" removal 3 size)
string(JSON connections GET "${json}" removal 3 profile connections)
if(NOT connections EQUAL keys)
    message(FATAL_ERROR "deleting ${keys} keys made ${connections} connections")
endif()
string(JSON products GET "${json}" removal 2 size)
if(NOT products EQUAL 1)
    message(FATAL_ERROR "expected one installed product, saw ${products}")
endif()
string(JSON peak GET "${json}" startup 0 peak_working_set_mb)
message(STATUS "tiny benchmark ran; start-up peak working set ${peak} MB")
