# Run by `cmake --install` after the library is in place: when its folder
# QUORVANE_INSTALLED_LIBDIR is one the loader searches, ldconfig refreshes
# the loader's cache so that libquorvane.so.1 is found at once.
find_program(QUORVANE_LDCONFIG ldconfig PATHS /sbin /usr/sbin)
if(QUORVANE_LDCONFIG AND "$ENV{DESTDIR}" STREQUAL "")
  execute_process(COMMAND ${QUORVANE_LDCONFIG} -v -N -X OUTPUT_VARIABLE searched ERROR_QUIET)
  # Each searched folder opens a line: "/usr/local/lib: (from ...)".
  string(REGEX MATCHALL "(^|\n)[^\t\n:]+:" folders "${searched}")
  file(REAL_PATH "${QUORVANE_INSTALLED_LIBDIR}" libdir)
  foreach(folder IN LISTS folders)
    string(REGEX REPLACE "^\n?([^:]+):$" "\\1" folder "${folder}")
    file(REAL_PATH "${folder}" folder)
    if(folder STREQUAL libdir)
      execute_process(COMMAND ${QUORVANE_LDCONFIG} RESULT_VARIABLE failed)
      if(failed)
        message(WARNING "ldconfig failed: run it as root to make libquorvane.so.1 known")
      else()
        message(STATUS "Refreshed the loader's cache for ${libdir}")
      endif()
      break()
    endif()
  endforeach()
endif()
