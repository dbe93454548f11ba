# Installation layout, the same for `make install PREFIX=...` and for the
# Debian packages (packaging/build-debs.sh installs one component per package):
#
#   component runtime   (libpzsovmax1)        lib/<multiarch>/libPZSOVMAX.so.1, libpzhostrt.so.1,
#                                             libpzhostrt_pg.so.1 (PostgreSQL host database,
#                                             loaded by the runtime from beside itself)
#   component host      (pzhost)              bin/pzhost, bin/pzarray, their man pages and
#                                             bash completions, share/doc/pzhost/
#   component simulator (pzsovmax-simulator)  bin/symsim, libexec/symsim/symsim-tool, man page,
#                                             bash completion
#   component dev       (not packaged)        the unversioned links libPZSOVMAX.so, libpzhostrt.so,
#                                             libpzhostrt_pg.so
#
# Programs find the libraries through a RUNPATH relative to themselves
# ($ORIGIN/../lib/<multiarch>), so any prefix works without ldconfig.
include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(PZ_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(PZ_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
endif()
set(PZ_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# Versioned SONAMEs: libPZSOVMAX.so.1, libpzhostrt.so.1 and, with PostgreSQL,
# libpzhostrt_pg.so.1.
set(PZ_RUNTIME_LIBRARIES pzhostrt PZSOVMAX)
if(TARGET pzhostrt_pg)
  list(APPEND PZ_RUNTIME_LIBRARIES pzhostrt_pg)
  set_target_properties(pzhostrt_pg PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
set_target_properties(${PZ_RUNTIME_LIBRARIES} PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(PZSOVMAX PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${PZ_RUNTIME_LIBRARIES}
  LIBRARY DESTINATION ${PZ_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)

# What `--version` prints, and where pzhost finds the installed plug-in.
foreach(prog pzhost pzarray symsim)
  if(TARGET ${prog})
    target_compile_definitions(${prog} PRIVATE PZ_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()
if(TARGET pzhost)
  target_compile_definitions(pzhost PRIVATE
    PZ_INSTALLED_PLUGIN="${PZ_INSTALL_LIBDIR}/libPZSOVMAX.so.${PROJECT_VERSION_MAJOR}")
endif()

set(PZ_HOST_PROGRAMS)
foreach(prog pzhost pzarray)
  if(TARGET ${prog})
    list(APPEND PZ_HOST_PROGRAMS ${prog})
    set_target_properties(${prog} PROPERTIES INSTALL_RPATH "$ORIGIN/../${PZ_INSTALL_LIBDIR}")
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/host-settings.md
              ${CMAKE_SOURCE_DIR}/docs/pzhost.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pzhost COMPONENT host)
install(FILES ${PZ_PACKAGING_DIR}/README.md RENAME packaging.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pzhost COMPONENT host)
install(FILES ${PZ_PACKAGING_DIR}/logrotate/pzhost
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pzhost/examples RENAME logrotate.pzhost
        COMPONENT host)

# symsim runs symsim-tool from beside itself (build tree) or from
# <prefix>/libexec/symsim/; the worlds it builds link the SYMCLI tool names
# (symsnapvx, symsg, ...) to it.
set(PZ_SIMULATOR_PROGRAMS)
if(TARGET symsim)
  list(APPEND PZ_SIMULATOR_PROGRAMS symsim)
  install(TARGETS symsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)
  install(TARGETS symsim-tool RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/symsim
          COMPONENT simulator)
endif()

# Bash completion: the one script under each program's name, as
# bash-completion loads a command's file on its first use.
foreach(prog ${PZ_HOST_PROGRAMS} ${PZ_SIMULATOR_PROGRAMS})
  if(prog STREQUAL "symsim")
    set(component simulator)
  else()
    set(component host)
  endif()
  install(FILES ${PZ_PACKAGING_DIR}/bash-completion/pzsovmax RENAME ${prog}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${component})
endforeach()

# Man pages, made from each program's --help and --version by help2man with
# the sections of packaging/man/<program>.h2m (its NAME, FILES, SEE ALSO...).
find_program(PZ_HELP2MAN help2man)
if(NOT PZ_HELP2MAN)
  message(STATUS "help2man not found: no man pages (apt-get install help2man)")
else()
  set(PZ_MAN_PAGES)
  foreach(prog ${PZ_HOST_PROGRAMS} ${PZ_SIMULATOR_PROGRAMS})
    set(page ${CMAKE_BINARY_DIR}/man/${prog}.1)
    set(include ${PZ_PACKAGING_DIR}/man/${prog}.h2m)
    set(commands ${CMAKE_BINARY_DIR}/man/${prog}-commands.h2m)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${prog}> -DNAME=${prog}
              -DOUTPUT=${commands} -P ${PZ_PACKAGING_DIR}/man/CommandsSection.cmake
      COMMAND ${PZ_HELP2MAN} --no-info --section 1 --source "PZSOVMAX ${PROJECT_VERSION}"
              --manual "User Commands" --include ${include} --opt-include ${commands}
              --output ${page} $<TARGET_FILE:${prog}>
      DEPENDS ${prog} ${include} ${PZ_PACKAGING_DIR}/man/CommandsSection.cmake
      COMMENT "Man page ${prog}.1"
      VERBATIM)
    list(APPEND PZ_MAN_PAGES ${page})
    if(prog STREQUAL "symsim")
      set(component simulator)
    else()
      set(component host)
    endif()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(man ALL DEPENDS ${PZ_MAN_PAGES})
endif()
