# Writes OUTPUT, a header with the project's version and the commit of the
# source tree, at every build; the file changes only when the commit does, so
# nothing is recompiled otherwise. Run with -DSOURCE_DIR= -DVERSION= -DOUTPUT=.
set(commit unknown)
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE result ERROR_QUIET)
  if(result EQUAL 0 AND head)
    set(commit ${head})
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes RESULT_VARIABLE result ERROR_QUIET)
    if(result EQUAL 0 AND changes)
      set(commit "${commit}, modified")
    endif()
  endif()
endif()
file(WRITE ${OUTPUT}.new
  "// Made at build time by cmake/WriteVersion.cmake.\n"
  "#define DEMO_VERSION_TEXT \"${VERSION}\"\n"
  "#define DEMO_COMMIT_TEXT \"${commit}\"\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
