# Installation of the modules as a CMake package (kvtrajConfig.cmake, exported targets
# kvtraj::<module>), a pkg-config file and public headers under include/kvtraj/<folder>/.
# kvtraj_module() calls kvtraj_export() for every module, so a new module is installed and
# exported without editing a list here; kvtraj_install_package() at the end writes the package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KVTRAJ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kvtraj
    CACHE STRING "Where kvtrajConfig.cmake is installed (relative to the prefix)")
# Installed consumers include "kvt_io/kvt_io.hpp" as the tree does, from include/kvtraj.
set(KVTRAJ_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kvtraj)

# Installed programs of a shared build find the libraries in the library folder.
if(KVTRAJ_SHARED_LIBS)
  file(RELATIVE_PATH _kvtraj_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set(CMAKE_INSTALL_RPATH "$ORIGIN/${_kvtraj_bin_to_lib}")
endif()

# Installs and exports target `name`; `headers` (paths relative to the current source folder)
# are its public headers. In shared builds only what those headers declare is visible: they wrap
# their declarations in `#pragma GCC visibility push(default)`.
function(kvtraj_export name headers)
  get_target_property(type ${name} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    set_target_properties(${name} PROPERTIES OUTPUT_NAME kvtraj_${name} EXPORT_NAME ${name}
                                             CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
                                             INSTALL_RPATH "$ORIGIN")
    set_property(GLOBAL APPEND PROPERTY KVTRAJ_LIBRARIES ${name})
  endif()
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} INTERFACE $<INSTALL_INTERFACE:${KVTRAJ_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${name} EXPORT kvtrajTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(headers)
    install(FILES ${headers} DESTINATION ${KVTRAJ_INSTALL_INCLUDEDIR}/${folder})
  endif()
endfunction()

# The module libraries in link order for static linking: every library before those it needs
# (a topological sort of their links to one another).
function(kvtraj_link_order out)
  get_property(pending GLOBAL PROPERTY KVTRAJ_LIBRARIES)
  set(order)
  while(pending)
    set(placed)
    foreach(library IN LISTS pending)
      get_target_property(depends ${library} LINK_LIBRARIES)
      set(ready TRUE)
      foreach(dep IN LISTS depends)
        if(dep IN_LIST pending)
          set(ready FALSE)
        endif()
      endforeach()
      if(ready)
        list(APPEND placed ${library})
      endif()
    endforeach()
    if(NOT placed)
      message(FATAL_ERROR "kvtraj: these modules need one another in a cycle: ${pending}")
    endif()
    list(APPEND order ${placed})
    list(REMOVE_ITEM pending ${placed})
  endwhile()
  list(REVERSE order)
  set(${out} ${order} PARENT_SCOPE)
endfunction()

# -lfoo for a library file /path/libfoo.so, the flag itself for anything else.
function(kvtraj_link_flags out)
  set(flags)
  foreach(lib IN LISTS ARGN)
    if(lib MATCHES "/lib([^/]+)\\.(so|a)[.0-9]*$")
      list(APPEND flags "-l${CMAKE_MATCH_1}")
    elseif(lib MATCHES "^-")
      list(APPEND flags ${lib})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES flags)
  list(JOIN flags " " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

function(kvtraj_install_package)
  install(EXPORT kvtrajTargets NAMESPACE kvtraj:: DESTINATION ${KVTRAJ_INSTALL_CMAKEDIR}
         )
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvtrajConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/kvtrajConfig.cmake
                                INSTALL_DESTINATION ${KVTRAJ_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvtrajConfigVersion.cmake
                                   COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/kvtrajConfig.cmake
                ${PROJECT_BINARY_DIR}/kvtrajConfigVersion.cmake
          DESTINATION ${KVTRAJ_INSTALL_CMAKEDIR})

  find_package(Threads REQUIRED)
  kvtraj_link_order(order)
  list(TRANSFORM order PREPEND "-lkvtraj_")
  list(JOIN order " " KVTRAJ_PC_LIBS)
  kvtraj_link_flags(KVTRAJ_PC_LIBS_PRIVATE ${KVTRAJ_LAPACK_LIBRARIES} ${CMAKE_THREAD_LIBS_INIT})
  # kvtraj.pc finds the prefix from its own place, so the installed tree can move.
  file(RELATIVE_PATH KVTRAJ_PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" KVTRAJ_PC_PREFIX_FROM_PCDIR "${KVTRAJ_PC_PREFIX_FROM_PCDIR}")
  if(KVTRAJ_HAVE_NETCDF AND CMAKE_DL_LIBS)
    string(PREPEND KVTRAJ_PC_LIBS_PRIVATE "-l${CMAKE_DL_LIBS} ")  # the NetCDF library's loader
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kvtraj.pc.in ${PROJECT_BINARY_DIR}/kvtraj.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kvtraj.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
         )
endfunction()

# Man pages of kvt (one per command), kvt-mpi and the node-simulation programs, and kvt's bash
# completion, made at build time from the programs' --help texts (cmake/usage_docs.cmake).
function(kvtraj_usage_docs)
  set(man ${PROJECT_BINARY_DIR}/man)
  set(script ${PROJECT_SOURCE_DIR}/cmake/usage_docs.cmake)
  set(docs ${man}/kvt.1)
  add_custom_command(OUTPUT ${man}/kvt.1 ${man}/kvt.bash
                     COMMAND ${CMAKE_COMMAND} -DMODE=kvt -DPROGRAM=$<TARGET_FILE:kvt> -DOUT=${man}
                             -DVERSION=${PROJECT_VERSION} -P ${script}
                     DEPENDS kvt ${script} ${PROJECT_SOURCE_DIR}/cmake/kvt.bash.in
                     COMMENT "Man pages and bash completion of kvt" VERBATIM)
  set(pages
      "blobgrid|make the tetrahedral mesh of a finite-element node simulation"
      "blobcrd|convert a node trajectory into AMBER formatted coordinates"
      "blobxyz|convert a node trajectory into coordinate triples in metres"
      "blobpdb|convert a node trajectory into PDB records"
      "kvt-mpi|kvt compress over the processes of an MPI job|--help")
  foreach(entry IN LISTS pages)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    set(args "")
    list(LENGTH entry length)
    if(length GREATER 2)
      list(GET entry 2 args)
    endif()
    if(TARGET ${program})
      add_custom_command(OUTPUT ${man}/${program}.1
                         COMMAND ${CMAKE_COMMAND} -DMODE=page -DPROGRAM=$<TARGET_FILE:${program}>
                                 -DPAGE=${program} -DSUMMARY=${summary} "-DARGS=${args}"
                                 -DOUT=${man} -DVERSION=${PROJECT_VERSION} -P ${script}
                         DEPENDS ${program} ${script} COMMENT "Man page of ${program}" VERBATIM)
      list(APPEND docs ${man}/${program}.1)
    endif()
  endforeach()
  add_custom_target(kvtraj_docs ALL DEPENDS ${docs})
  install(DIRECTORY ${man}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 FILES_MATCHING PATTERN "*.1")
  install(FILES ${man}/kvt.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kvt)
endfunction()
