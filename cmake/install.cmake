# `cmake --install build [--prefix P]`: the programs, the example template and
# input, the nginx configuration template and the manual page, laid out as
#   bin/polygons, bin/polygons-web, bin/polygons-mpi (when built)
#   share/polygons/examples/template.gp, share/polygons/examples/triangle.txt
#   share/polygons/nginx.conf.in
#   share/man/man1/polygons.1
#   lib/python3.X/dist-packages/polygons*.so (when the Python module is built)
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

# The manual page: help2man writes it from the built program's --help and
# --version, with the parts --help does not carry from doc/polygons.h2m.in.
# help2man starts the program through the shell, unquoted: it is named from
# its own directory, so that a build path with a blank works.
find_program(POLYGONS_HELP2MAN help2man)
if(NOT POLYGONS_HELP2MAN)
  message(FATAL_ERROR "help2man not found: it writes the manual page (scripts/setup.sh installs it)")
endif()
configure_file(doc/polygons.h2m.in ${PROJECT_BINARY_DIR}/doc/polygons.h2m @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/polygons.1
  COMMAND ${POLYGONS_HELP2MAN} --no-info --section=1
          --include=${PROJECT_BINARY_DIR}/doc/polygons.h2m
          --output=${PROJECT_BINARY_DIR}/doc/polygons.1 ./$<TARGET_FILE_NAME:polygons>
  WORKING_DIRECTORY $<TARGET_FILE_DIR:polygons>
  DEPENDS polygons ${PROJECT_BINARY_DIR}/doc/polygons.h2m
  COMMENT "Writing the manual page of polygons"
  VERBATIM)
add_custom_target(polygons_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/polygons.1)
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

if(TARGET polygons_python)
  # The system's python3 looks under a prefix where its own site directory
  # lies under /usr/local (Debian: lib/python3.X/dist-packages), so the
  # default prefix puts the module where `import polygons` finds it.
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_path('platlib'))"
    OUTPUT_VARIABLE python_site_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^/usr/local/|^/usr/" "" python_site_dir "${python_site_dir}")
  set(POLYGONS_PYTHON_INSTALL_DIR ${python_site_dir} CACHE STRING
      "Where the Python module goes, relative to the install prefix")
  install(TARGETS polygons_python LIBRARY DESTINATION ${POLYGONS_PYTHON_INSTALL_DIR})
endif()

if(BUILD_TESTING)
  add_test(NAME install
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_COMMAND}
            ${PROJECT_BINARY_DIR} "$<$<TARGET_EXISTS:polygons_python>:${Python3_EXECUTABLE}>"
            "$<$<TARGET_EXISTS:polygons_python>:${POLYGONS_PYTHON_INSTALL_DIR}>")
  set_tests_properties(install PROPERTIES TIMEOUT 120)
endif()
