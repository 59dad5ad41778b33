# tessivar_warnings(<target>): the project's warning set, applied per target.
function(tessivar_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2)
  tessivar_qt_header_false_positives(${target})
  # TESSIVAR_WERROR: a warning in the project's own code fails the build (scripts/build).
  if(TESSIVAR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# GCC 12 reports "potential null pointer dereference" inside Qt's own QVector copy
# constructor (qvector.h:385) when it inlines a QVector assignment (StatBlock's copy, or
# QCustomPlot's QCPDataContainer::set) in these files. The pointer it means is Qt's shared
# data, never null; GCC 13 no longer reports it. Only these source files, only with GCC 12,
# get -Wno-null-dereference; every other file keeps the warning.
set(TESSIVAR_GCC12_QVECTOR_FILES
  ${CMAKE_CURRENT_LIST_DIR}/../app/measure/curvedata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../app/measure/statisticdata.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../app/shell/measurewidget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../app/shell/viewfilewidget.cpp)
function(tessivar_qt_header_false_positives target)
  if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
          AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13))
    return()
  endif()
  # Sources may be added to the target after this call (the app's folders add theirs), so
  # the property is set in the target's directory whether or not the file is in it yet.
  foreach(file IN LISTS TESSIVAR_GCC12_QVECTOR_FILES)
    get_filename_component(file "${file}" ABSOLUTE)
    get_property(options SOURCE "${file}" TARGET_DIRECTORY ${target} PROPERTY COMPILE_OPTIONS)
    if(NOT "-Wno-null-dereference" IN_LIST options)
      set_property(SOURCE "${file}" TARGET_DIRECTORY ${target} APPEND PROPERTY
        COMPILE_OPTIONS -Wno-null-dereference)
    endif()
  endforeach()
endfunction()
