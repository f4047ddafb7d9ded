# `cmake --install build [--prefix P]`: the programs, the example template and
# input, the nginx configuration template and the manual page, laid out as
#   bin/polygons, bin/polygons-web, bin/polygons-mpi (when built)
#   share/polygons/examples/template.gp, share/polygons/examples/triangle.txt
#   share/polygons/nginx.conf.in
#   share/man/man1/polygons.1
# and a test that installs into a scratch prefix and runs what it installed.
include(GNUInstallDirs)

set(POLYGONS_DATA_DIR ${CMAKE_INSTALL_DATADIR}/polygons)
set(POLYGONS_EXAMPLES_DIR ${CMAKE_INSTALL_FULL_DATADIR}/polygons/examples)

install(TARGETS polygons RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET polygons-mpi)
  install(TARGETS polygons-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES examples/template.gp examples/triangle.txt
        DESTINATION ${POLYGONS_DATA_DIR}/examples)
install(FILES deploy/nginx.conf.in DESTINATION ${POLYGONS_DATA_DIR})

configure_file(doc/polygons.1.in ${PROJECT_BINARY_DIR}/doc/polygons.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/doc/polygons.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET polygons-web)
  install(TARGETS polygons-web RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The installed service finds its template from where it runs, whatever
  # the prefix; one run from the build tree takes the source tree's.
  file(RELATIVE_PATH template_from_bin /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${POLYGONS_DATA_DIR}/examples/template.gp)
  target_compile_definitions(polygons-web PRIVATE
    POLYGONS_WEB_INSTALLED_TEMPLATE="${template_from_bin}")
endif()

if(BUILD_TESTING)
  add_test(NAME install
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_COMMAND}
            ${PROJECT_BINARY_DIR})
  set_tests_properties(install PROPERTIES TIMEOUT 120)
endif()
