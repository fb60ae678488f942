# qv_add_subsystem(NAME [DEPS ...] [WIN_DEPS ...])
#
# A subsystem folder holds portable logic (*.cpp) and its Win32 half
# (*_win.cpp). The logic becomes the static library NAME in every
# configuration; the Win32 half becomes NAME_win when building for Windows.
function(qv_add_subsystem name)
  cmake_parse_arguments(S "" "" "DEPS;WIN_DEPS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(logic_sources)
  set(win_sources)
  foreach(src ${all_sources})
    if(src MATCHES "_win\\.cpp$")
      list(APPEND win_sources ${src})
    else()
      list(APPEND logic_sources ${src})
    endif()
  endforeach()

  if(logic_sources)
    add_library(${name} STATIC ${logic_sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${S_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${S_DEPS} Threads::Threads)
  endif()

  if(WIN32 AND win_sources)
    add_library(${name}_win STATIC ${win_sources})
    target_include_directories(${name}_win PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name}_win PUBLIC ${name} ${S_WIN_DEPS})
  endif()
endfunction()
