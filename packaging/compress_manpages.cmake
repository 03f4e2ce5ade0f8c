# Run by CPack on the staged files before it builds the package: gzips every manual page as
# Debian does (gzip -9n: best compression, no name or time stamp, so the bytes are reproducible).

file(GLOB_RECURSE pages LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*")
foreach(page IN LISTS pages)
  if(page MATCHES "\\.gz$")
    continue()
  endif()
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}: ${status}")
  endif()
endforeach()
