# What `cmake --install` puts in place for people who link the library: the
# shared object and its header, the simulated module's object, the quillon program (cli/), a CMake package
# (find_package(quillonlib) -> quillonlib::quillonlib), a pkg-config file and
# the udev rule that lets a non-root user open the module.
include(CMakePackageConfigHelpers)

set(QUILLON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillonlib)
set(QUILLON_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set_target_properties(quillonlib PROPERTIES EXPORT_NAME quillonlib)
install(TARGETS quillonlib EXPORT quillonlibTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The simulated module goes beside the library, where the library looks for it
# when QUILLONLIB_SIMULATOR=1.
install(TARGETS quillon_sim LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT quillonlibTargets NAMESPACE quillonlib:: DESTINATION ${QUILLON_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quillonlibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quillonlibConfig.cmake INSTALL_DESTINATION ${QUILLON_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quillonlibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quillonlibConfig.cmake
              ${PROJECT_BINARY_DIR}/quillonlibConfigVersion.cmake
        DESTINATION ${QUILLON_CMAKE_DIR})

# The pkg-config file finds its prefix from where it lies, so it stays right
# under `cmake --install --prefix` and DESTDIR staging.
function(quillon_pc_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
if(IS_ABSOLUTE "${QUILLON_PKGCONFIG_DIR}")
  set(QUILLON_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QUILLON_PC_UP "/prefix/${QUILLON_PKGCONFIG_DIR}" "/prefix")
  string(REGEX REPLACE "/$" "" QUILLON_PC_UP "${QUILLON_PC_UP}")
  set(QUILLON_PC_PREFIX "\${pcfiledir}/${QUILLON_PC_UP}")
endif()
quillon_pc_dir(QUILLON_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
quillon_pc_dir(QUILLON_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quillonlib.pc.in ${PROJECT_BINARY_DIR}/quillonlib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quillonlib.pc DESTINATION ${QUILLON_PKGCONFIG_DIR})

# The rule always goes with the package's data; udev reads it only from its
# own directories, so copying it there is a separate, deliberate step.
install(FILES ${PROJECT_SOURCE_DIR}/udev/60-quillon.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quillonlib/udev)
option(QUILLON_INSTALL_UDEV_RULE "Also install the udev rule into QUILLON_UDEV_RULES_DIR" OFF)
set(QUILLON_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH "Where udev reads local rules")
if(QUILLON_INSTALL_UDEV_RULE)
  install(FILES ${PROJECT_SOURCE_DIR}/udev/60-quillon.rules DESTINATION ${QUILLON_UDEV_RULES_DIR})
endif()

# The Python package, for Debian's interpreter. It finds the library through
# the path from its own folder to the library folder, written at install time.
set(QUILLON_PYTHON_DIR "lib/python3/dist-packages" CACHE PATH
    "Where the quillon Python package goes (relative paths are under the prefix)")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/quillon DESTINATION ${QUILLON_PYTHON_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
if(IS_ABSOLUTE "${QUILLON_PYTHON_DIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUILLON_PY_LIBRARY_DIR "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  file(RELATIVE_PATH QUILLON_PY_LIBRARY_DIR "/prefix/${QUILLON_PYTHON_DIR}/quillon"
       "/prefix/${CMAKE_INSTALL_LIBDIR}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/python/_installed.py
     "# Written by cmake --install: the library folder, from this package's folder.\n"
     "LIBRARY_RELATIVE = \"${QUILLON_PY_LIBRARY_DIR}\"\n")
install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py DESTINATION ${QUILLON_PYTHON_DIR}/quillon)
