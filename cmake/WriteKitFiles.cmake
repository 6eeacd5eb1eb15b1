# cmake -DTAVREL_CLI=... -DOUT=... -DKIT=... -DSOURCE=... -DPROJECT_VERSION=... -DTAVREL_MAINTAINER=...
#       -P WriteKitFiles.cmake
# Writes the files the installed kit carries about its programs into OUT: tavrel-cli's manual pages,
# completions and udev rule (from its own option declarations), the desktop programs' manual pages
# and the package changelog, the pages and the changelog gzipped as Debian keeps them. KIT is the
# installed kit's folder the pages name. The build runs it, and the install again for its prefix.
foreach(variable TAVREL_CLI OUT KIT SOURCE PROJECT_VERSION TAVREL_MAINTAINER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "WriteKitFiles.cmake needs ${variable}")
  endif()
endforeach()

file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${TAVREL_CLI}" --write-kit-files "${OUT}" "${KIT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tavrel-cli could not write its manual pages and completions into ${OUT}")
endif()

set(TAVREL_KIT_PATH "${KIT}")
foreach(page Tavrel KR2H70X_Generate_Bin)
  configure_file("${SOURCE}/packaging/${page}.1.in" "${OUT}/man/${page}.1" @ONLY)
endforeach()
configure_file("${SOURCE}/packaging/changelog" "${OUT}/doc/changelog" @ONLY)

# -n: no name or time stamp inside, so the same sources give the same files.
file(GLOB pages "${OUT}/man/*.1")
execute_process(COMMAND gzip -9nf ${pages} "${OUT}/doc/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the manual pages in ${OUT}")
endif()
