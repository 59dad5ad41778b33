# The SDK folder: the public header, the C examples, the Python binding and the guide.
#
# Include this file from anywhere in the tree (it does not depend on the order of the
# subdirectories):
#   include(${PROJECT_SOURCE_DIR}/sdk/TessivarSdk.cmake)
#
# TESSIVAR_SDK_SOURCE_DIR    this folder
# TESSIVAR_INSTALL_SDKDIR    where `cmake --install` puts the SDK (relative to the prefix)
# tessivar_sdk_install(DESTINATION <dir> COMPONENT <component>)
#     installs the SDK folder into <dir> (relative to the prefix, or absolute) as part of
#     the install component <component> (one Debian package per component).
# tessivar_sdk_copy(TARGET <target> DESTINATION <dir>)
#     after every build of <target>, refreshes a copy of the SDK folder in
#     <dir> relative to the target's output directory (e.g. help/SDK beside a program).
include_guard(GLOBAL)
include(GNUInstallDirs)

set(TESSIVAR_SDK_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TESSIVAR_INSTALL_SDKDIR ${CMAKE_INSTALL_DATADIR}/tessivar/sdk)
set(_tessivar_sdk_header ${CMAKE_CURRENT_LIST_DIR}/../library/include/tessivar/tessivar.h)
get_filename_component(_tessivar_sdk_header ${_tessivar_sdk_header} ABSOLUTE)

function(tessivar_sdk_install)
  cmake_parse_arguments(ARG "" "DESTINATION;COMPONENT" "" ${ARGN})
  if(NOT ARG_DESTINATION OR NOT ARG_COMPONENT)
    message(FATAL_ERROR "tessivar_sdk_install: DESTINATION and COMPONENT are required")
  endif()
  install(FILES ${TESSIVAR_SDK_SOURCE_DIR}/README.md DESTINATION ${ARG_DESTINATION}
    COMPONENT ${ARG_COMPONENT})
  install(FILES ${_tessivar_sdk_header} DESTINATION ${ARG_DESTINATION}/include/tessivar
    COMPONENT ${ARG_COMPONENT})
  install(DIRECTORY ${TESSIVAR_SDK_SOURCE_DIR}/examples ${TESSIVAR_SDK_SOURCE_DIR}/python
    DESTINATION ${ARG_DESTINATION}
    COMPONENT ${ARG_COMPONENT}
    PATTERN __pycache__ EXCLUDE
    PATTERN "*.pyc" EXCLUDE
    PATTERN "build*" EXCLUDE)
endfunction()

function(tessivar_sdk_copy)
  cmake_parse_arguments(ARG "" "TARGET;DESTINATION" "" ${ARGN})
  if(NOT ARG_TARGET OR NOT ARG_DESTINATION)
    message(FATAL_ERROR "tessivar_sdk_copy: TARGET and DESTINATION are required")
  endif()
  add_custom_command(TARGET ${ARG_TARGET} POST_BUILD
    COMMAND ${CMAKE_COMMAND}
      -DSDK_SOURCE=${TESSIVAR_SDK_SOURCE_DIR}
      -DSDK_HEADER=${_tessivar_sdk_header}
      -DSDK_DESTINATION=$<TARGET_FILE_DIR:${ARG_TARGET}>/${ARG_DESTINATION}
      -P ${TESSIVAR_SDK_SOURCE_DIR}/copy_sdk.cmake
    COMMENT "Copying the SDK folder to ${ARG_DESTINATION}"
    VERBATIM)
endfunction()
