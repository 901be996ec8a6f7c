# Installs the build into a scratch prefix and checks that the two programs
# and the manual page arrive where users and man(1) look for them.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
include(GNUInstallDirs)
foreach(path bin/lopwort bin/lopwort-signature ${CMAKE_INSTALL_MANDIR}/man1/lopwort.1)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(READ ${PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/lopwort.1 page)
if(NOT page MATCHES "\\.TH LOPWORT 1")
  message(FATAL_ERROR "lopwort.1 is no manual page")
endif()
file(REMOVE_RECURSE ${PREFIX})
