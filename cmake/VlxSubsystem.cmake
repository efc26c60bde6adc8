# One static library per folder; sources are picked up by glob so that each
# class is one .h/.cpp (and .ui) pair without touching the build files. The glob
# goes down every sub-folder (platform/sim/models, ...): nothing is skipped silently.
function(vlx_subsystem name dir)
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h
       ${CMAKE_SOURCE_DIR}/${dir}/*.ui)
  list(FILTER _src EXCLUDE REGEX ".*/app/main\\.cpp$")
  vlx_note_built_sources(${_src})
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${dir})
    set_target_properties(${name} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/${dir})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# Every source a target compiles, for the build-hygiene test (tests/build_sources.txt).
function(vlx_note_built_sources)
  set_property(GLOBAL APPEND PROPERTY VLX_BUILT_SOURCES ${ARGN})
endfunction()

function(vlx_link_cycle lib)
  get_target_property(_type ${lib} TYPE)
  if(_type STREQUAL "STATIC_LIBRARY")
    foreach(_other ${ARGN})
      if(NOT _other STREQUAL lib)
        get_target_property(_t ${_other} TYPE)
        if(_t STREQUAL "STATIC_LIBRARY")
          target_link_libraries(${lib} PUBLIC ${_other})
        endif()
      endif()
    endforeach()
  endif()
endfunction()
