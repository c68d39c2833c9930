# Shared helpers for the project's targets.

# The folders each layer of the tree may include from, lowest layer first (tools/check_layers.py
# checks the same order over every file, tests included). Includes are spelled from the root, so a
# layer is given a view of the tree in the build folder holding links to just those folders: an
# include of a layer above does not compile. tools/ and bench/ sit on top and see the whole root.
set(TW_LAYER_platform platform)
set(TW_LAYER_core platform core)
set(TW_LAYER_kits_platform platform kits/platform)
set(TW_LAYER_kits_analytics platform kits/platform kits/analytics)
set(TW_LAYER_kits_crash platform kits/platform kits/analytics kits/crash)
set(TW_LAYER_app platform core kits app)

# tw_layer_includes(TARGET [FOLDERS folder ...]): the target (and what links it) includes from the
# folders of its layer, found from the folder that defines it, or from the folders named.
function(tw_layer_includes target)
  cmake_parse_arguments(ARG "" "" "FOLDERS" ${ARGN})
  get_target_property(type ${target} TYPE)
  set(scope PUBLIC)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  endif()
  if(ARG_FOLDERS)
    set(folders ${ARG_FOLDERS})
  else()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    if(rel MATCHES "^kits/(platform|analytics|crash)(/|$)")
      set(layer kits_${CMAKE_MATCH_1})
    elseif(rel MATCHES "^(platform|core|app)(/|$)")
      set(layer ${CMAKE_MATCH_1})
    else()
      target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
      return()
    endif()
    set(folders ${TW_LAYER_${layer}})
  endif()
  string(JOIN "+" view_name ${folders})
  string(MAKE_C_IDENTIFIER "${view_name}" view_name)
  set(view ${CMAKE_BINARY_DIR}/layers/${view_name})
  foreach(folder ${folders})
    if(NOT EXISTS ${view}/${folder})
      get_filename_component(parent ${view}/${folder} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${view})
endfunction()

# How the libraries are laid out. Two shared libraries hold what both deliverables use, each once
# in the process: libTickwellPlatform.so (the platform folders but machine/: one main queue, one
# notification centre, one set of user defaults) and the core framework libTickwell_macOS.so. The
# kits and platform/machine, which only the program (and tests) use, are static and linked whole
# into whoever uses them, so their load-time registrations still run and the loader has fewer
# libraries to map and bind. Each library keeps the guarantee that it calls nothing it does not
# link: the shared ones link with --no-undefined; each platform folder and each static library is
# also linked, with what it may use and nothing more, into a throwaway shared object with
# --no-undefined (<name>_layer_check), built with everything else.
set(TW_EMPTY_SOURCE ${CMAKE_BINARY_DIR}/tw_empty.cpp)
if(NOT EXISTS ${TW_EMPTY_SOURCE})
  file(WRITE ${TW_EMPTY_SOURCE} "// A library made only of what it links.\n")
endif()

# A throwaway shared object linking `libs` with --no-undefined: it fails to link when they call
# into a library they do not link.
function(tw_link_check name)
  add_library(${name}_layer_check SHARED ${TW_EMPTY_SOURCE})
  target_link_libraries(${name}_layer_check PRIVATE ${ARGN})
  target_link_options(${name}_layer_check PRIVATE -Wl,--no-undefined)
  set_target_properties(${name}_layer_check PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layer-checks)
endfunction()

# tw_library(NAME OUTPUT_NAME SOURCES ... PUBLIC_LIBS ... PRIVATE_LIBS ...)
# In platform/ (but machine/) a part of libTickwellPlatform.so; in kits/ and platform/machine a
# static library linked whole (NAME then stands for it, its archive is NAME_archive); elsewhere a
# shared library of its own.
function(tw_library name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(rel MATCHES "^platform(/|$)" AND NOT rel MATCHES "^platform/machine(/|$)")
    tw_platform_part(${name} ${ARGN})
    return()
  endif()
  if(rel MATCHES "^(kits|platform/machine)(/|$)")
    set(built ${name}_archive)
    add_library(${built} STATIC ${ARG_SOURCES})
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${built}>")
    tw_link_check(${name} ${name})
  else()
    set(built ${name})
    add_library(${built} SHARED ${ARG_SOURCES})
    # Every symbol a library uses comes from what it links: a call into a layer it does not link
    # fails here rather than being left for the program to resolve.
    target_link_options(${built} PRIVATE -Wl,--no-undefined -Wl,-Bsymbolic-functions)
    # Installed beside each other in a folder of the program's own (see CMAKE_INSTALL_RPATH).
    install(TARGETS ${built} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tickwell)
  endif()
  tw_layer_includes(${built})
  add_dependencies(${built} tw_layer_check)
  target_compile_options(${built} PRIVATE ${TW_WARNINGS})
  target_link_libraries(${built} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${built} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
endfunction()

# A platform folder: an object library (NAME_part) of libTickwellPlatform.so, and NAME, which
# links the shared library with the folder's public requirements. Platform folders it uses
# (TickwellPlatform* among PUBLIC_LIBS) give their parts' requirements to its part.
function(tw_platform_part name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name}_part OBJECT ${ARG_SOURCES})
  tw_layer_includes(${name}_part)
  add_dependencies(${name}_part tw_layer_check)
  target_compile_options(${name}_part PRIVATE ${TW_WARNINGS})
  set(part_public)
  set(uses)
  foreach(lib ${ARG_PUBLIC_LIBS})
    if(lib MATCHES "^TickwellPlatform")
      list(APPEND part_public ${lib}_part)
      list(APPEND uses ${lib})
    else()
      list(APPEND part_public ${lib})
    endif()
  endforeach()
  target_link_libraries(${name}_part PUBLIC ${part_public} PRIVATE ${ARG_PRIVATE_LIBS})
  add_library(${name} INTERFACE)
  tw_layer_includes(${name})
  target_link_libraries(${name} INTERFACE TickwellPlatform ${ARG_PUBLIC_LIBS})
  set_property(GLOBAL APPEND PROPERTY TW_PLATFORM_PARTS ${name})
  set_property(GLOBAL PROPERTY TW_PLATFORM_USES_${name} ${uses})
endfunction()

# libTickwellPlatform.so from every platform part, once they are all defined; and each part's
# check, linking it with the parts it uses and nothing else.
function(tw_platform_library)
  get_property(parts GLOBAL PROPERTY TW_PLATFORM_PARTS)
  set(objects)
  foreach(part ${parts})
    list(APPEND objects ${part}_part)
  endforeach()
  add_library(TickwellPlatform SHARED ${TW_EMPTY_SOURCE})
  target_link_libraries(TickwellPlatform PRIVATE ${objects})
  target_link_options(TickwellPlatform PRIVATE -Wl,--no-undefined -Wl,-Bsymbolic-functions)
  install(TARGETS TickwellPlatform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tickwell)
  foreach(part ${parts})
    set(closure ${part})
    set(todo ${part})
    while(todo)
      list(POP_FRONT todo next)
      get_property(uses GLOBAL PROPERTY TW_PLATFORM_USES_${next})
      foreach(used ${uses})
        if(NOT used IN_LIST closure)
          list(APPEND closure ${used})
          list(APPEND todo ${used})
        endif()
      endforeach()
    endwhile()
    list(TRANSFORM closure APPEND _part)
    tw_link_check(${part} ${closure})
  endforeach()
endfunction()

# tw_test(NAME LABEL label [TIMEOUT seconds] [LOCK name] [ENVIRONMENT VAR=value ...] SOURCES ...
#         LIBS ...): one GoogleTest binary per module, each of its cases a CTest entry of its own
# ("<binary>.<Suite>.<Case>"), so `ctest -R` picks a case and a skipped case shows as skipped. The
# cases are listed when ctest runs (the build never starts a test binary); each runs in a process
# of its own with the binary's label, timeout and environment. LOCK keeps the cases holding the
# same name from running at the same time, for cases that load the machine so heavily (a display
# server, the program, its buses and a screen reader's bridge each) that several at once would
# starve one another.
include(GoogleTest)
function(tw_test name)
  if(NOT TICKWELL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;LOCK" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_SOURCES)
    return()
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${TW_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock tw_testsupport)
  set(properties LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_LOCK})
  endif()
  # Listing a sanitized binary on a loaded machine can take longer than the default 5 s.
  gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120 TEST_LIST ${name}_TESTS PROPERTIES ${properties})
  if(ARG_ENVIRONMENT)
    # Given to the listed cases by a script ctest reads after listing them: a value with more
    # than one variable loses its separators on the way through the listing's own properties.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${script} "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${ARG_ENVIRONMENT}]==])\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# tw_bench(NAME SOURCES ... LIBS ...)
function(tw_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${TW_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
