# Helpers shared by the module folders. Every folder lists its sources by glob, so
# adding a module is adding its .cpp/.h pair; no CMake file needs editing for that.

# project_sources(VAR DIR): the .cpp/.c files directly in DIR.
function(project_sources var dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  set(${var} ${srcs} PARENT_SCOPE)
endfunction()

# The libraries a program or test may link, in link order, that exist so far.
function(project_link_libs var)
  set(out)
  foreach(t ${ARGN})
    if(TARGET ${t})
      list(APPEND out ${t})
    endif()
  endforeach()
  set(${var} ${out} PARENT_SCOPE)
endfunction()

# project_library(NAME DIR [LIBS...]): the sources of DIR built once as objects with
# hidden visibility, then linked as the shared library NAME (what programs and other
# callers use; only the declared interface is visible) and as NAME_static (what the
# tests use, so they can reach internal functions too).
function(project_library name dir)
  project_sources(srcs ${dir})
  if(NOT srcs)
    return()
  endif()
  add_library(${name}_obj OBJECT ${srcs})
  set_target_properties(${name}_obj PROPERTIES CXX_VISIBILITY_PRESET hidden
                                               C_VISIBILITY_PRESET hidden
                                               VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name}_obj PUBLIC ${ARGN})
  # The public headers export with this defined (import without it on Windows).
  target_compile_definitions(${name}_obj PRIVATE SAPIOLUX_BUILDING_LIBRARY)
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name} PUBLIC ${ARGN})
  add_library(${name}_static STATIC $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name}_static PUBLIC ${ARGN})
endfunction()

# The libraries of the project, in link order (callers first). The mail fetchers are
# one static library over the import library, so they come before it in both lists.
set(PROJECT_SHARED_LIBS mailfetchlib imex ixo ixoplatform ixosupport CACHE INTERNAL "")
set(PROJECT_STATIC_LIBS mailfetchlib imex_static ixo_static ixoplatform ixosupport CACHE INTERNAL "")
