# Run by cpack's DEB generator after it installs into its staging folder: the manual
# pages go into the package compressed, as Debian's policy wants (gzip -9n: no name or
# time stamp inside, so the same page gives the same bytes).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${page} failed")
    endif()
endforeach()
