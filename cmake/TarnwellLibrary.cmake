# Building virus library files: routine sources compiled by clang into 32-bit
# COFF objects (i686-pc-windows-msvc, freestanding), then `tarnlib build` on a
# manifest. Include from any CMakeLists.txt:
#
#   include(${CMAKE_SOURCE_DIR}/cmake/TarnwellLibrary.cmake)
#   tw_library(mylib
#     MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/manifest.json
#     OUTDIR   ${CMAKE_BINARY_DIR}/lib
#     SOURCES  routines/foo.cpp routines/hooks.cpp)
#
# Each source becomes OBJDIR/<stem>.obj; the SDK's runtime helper object is
# always built as OBJDIR/tarnwell_helpers.obj (list it in section 0 of the
# first base file). The manifest names objects relative to OBJDIR.
# Included by several folders: every include sets the variables in its own scope.

find_program(TW_LIBRARY_CLANGXX NAMES clang++ clang++-14 REQUIRED)

set(TW_LIBRARY_CFLAGS
  --target=i686-pc-windows-msvc
  -ffreestanding -fno-builtin -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-addrsig -O2
  -Wno-microsoft-cast)
set(TW_LIBRARY_SDK_HEADERS
  ${CMAKE_SOURCE_DIR}/library/sdk/tarnwell.h
  ${CMAKE_SOURCE_DIR}/scanner/library/cqel.h)
set(TW_LIBRARY_HELPERS_SOURCE ${CMAKE_SOURCE_DIR}/library/sdk/helpers/runtime_helpers.cpp)

# tw_library_objects(OUTVAR OBJDIR dir SOURCES src... [INCLUDES dir...] [DEFINES d...])
# Adds one custom command per source; OUTVAR receives the .obj paths.
function(tw_library_objects outvar)
  cmake_parse_arguments(A "" "OBJDIR" "SOURCES;INCLUDES;DEFINES" ${ARGN})
  if(NOT A_OBJDIR)
    message(FATAL_ERROR "tw_library_objects: OBJDIR is required")
  endif()
  set(includes -I${CMAKE_SOURCE_DIR})
  foreach(dir ${A_INCLUDES})
    list(APPEND includes -I${dir})
  endforeach()
  set(defines)
  foreach(d ${A_DEFINES})
    list(APPEND defines -D${d})
  endforeach()
  set(objects)
  foreach(src ${A_SOURCES})
    get_filename_component(abs ${src} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(stem ${src} NAME_WE)
    set(obj ${A_OBJDIR}/${stem}.obj)
    add_custom_command(
      OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${A_OBJDIR}
      COMMAND ${TW_LIBRARY_CLANGXX} ${TW_LIBRARY_CFLAGS} ${includes} ${defines} -MD -MF ${obj}.d -c ${abs} -o ${obj}
      DEPENDS ${abs} ${TW_LIBRARY_SDK_HEADERS}
      DEPFILE ${obj}.d
      COMMENT "Compiling library routine ${stem}.obj"
      VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  set(${outvar} ${objects} PARENT_SCOPE)
endfunction()

# tw_library(NAME MANIFEST m.json OUTDIR dir SOURCES src... [OBJDIR dir]
#            [INCLUDES dir...] [DEFINES d...] [DEPENDS file...])
# Target NAME (built by default) compiles the sources and the SDK helper
# object and runs `tarnlib build MANIFEST OUTDIR --objdir OBJDIR`.
# NAME_STAMP in the parent scope is the file the run leaves behind.
function(tw_library name)
  cmake_parse_arguments(A "" "MANIFEST;OUTDIR;OBJDIR" "SOURCES;INCLUDES;DEFINES;DEPENDS" ${ARGN})
  if(NOT A_MANIFEST OR NOT A_OUTDIR)
    message(FATAL_ERROR "tw_library: MANIFEST and OUTDIR are required")
  endif()
  if(NOT A_OBJDIR)
    set(A_OBJDIR ${CMAKE_CURRENT_BINARY_DIR}/${name}.objects)
  endif()
  get_filename_component(manifest ${A_MANIFEST} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  tw_library_objects(objects OBJDIR ${A_OBJDIR} SOURCES ${A_SOURCES}
    INCLUDES ${A_INCLUDES} DEFINES ${A_DEFINES})
  set(helpers ${A_OBJDIR}/tarnwell_helpers.obj)
  add_custom_command(
    OUTPUT ${helpers}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${A_OBJDIR}
    COMMAND ${TW_LIBRARY_CLANGXX} ${TW_LIBRARY_CFLAGS} -c ${TW_LIBRARY_HELPERS_SOURCE} -o ${helpers}
    DEPENDS ${TW_LIBRARY_HELPERS_SOURCE}
    COMMENT "Compiling library runtime helpers"
    VERBATIM)
  set(stamp ${A_OUTDIR}/.${name}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${A_OUTDIR}
    COMMAND $<TARGET_FILE:tarnlib> build ${manifest} ${A_OUTDIR} --objdir ${A_OBJDIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS tarnlib ${manifest} ${objects} ${helpers} ${A_DEPENDS}
    COMMENT "Building library files of ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${stamp})
  set(${name}_STAMP ${stamp} PARENT_SCOPE)
endfunction()
