# clearstrand_add_msi(OUT NAME VERSION FOLDER): a small per-machine installer
# package for the tests and the benchmark, built with wixl by
# scripts/make-msi.sh; its program folder is recorded as InstallLocation.
function(clearstrand_add_msi out name version folder)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-msi.sh ${out} "${name}" ${version} "${folder}"
        DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-msi.sh ${CMAKE_SOURCE_DIR}/scripts/msi/product.wxs.in
        VERBATIM)
endfunction()
