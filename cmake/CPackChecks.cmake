# Read by cpack for each package it makes. A Debian package whose Depends
# lack the shared libraries of its binaries installs but cannot run, so
# the tools that compute them must be present.
if(CPACK_GENERATOR STREQUAL "DEB")
  foreach(tool dpkg-shlibdeps file)
    find_program(tool_path_${tool} ${tool})
    if(NOT tool_path_${tool})
      message(FATAL_ERROR "cpack: ${tool} is needed to compute the package's dependencies "
                          "(apt-get install dpkg-dev file)")
    endif()
  endforeach()
endif()
