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
  if(ARG_FOLDERS)
    set(folders ${ARG_FOLDERS})
  else()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    if(rel MATCHES "^kits/(platform|analytics|crash)(/|$)")
      set(layer kits_${CMAKE_MATCH_1})
    elseif(rel MATCHES "^(platform|core|app)(/|$)")
      set(layer ${CMAKE_MATCH_1})
    else()
      target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
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
  target_include_directories(${target} PUBLIC ${view})
endfunction()

# tw_library(NAME OUTPUT_NAME SOURCES ... PUBLIC_LIBS ... PRIVATE_LIBS ...)
function(tw_library name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  tw_layer_includes(${name})
  # Every symbol a library uses comes from what it links: a call into a layer it does not link
  # fails here rather than being left for the program to resolve.
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  add_dependencies(${name} tw_layer_check)
  target_compile_options(${name} PRIVATE ${TW_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  # Installed beside each other in a folder of the program's own (see CMAKE_INSTALL_RPATH).
  install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tickwell)
endfunction()

# tw_test(NAME LABEL label [TIMEOUT seconds] [LOCK name] [ENVIRONMENT VAR=value ...] SOURCES ...
#         LIBS ...): one GoogleTest binary per module, each of its cases a CTest entry of its own
# ("<binary>.<Suite>.<Case>"), so `ctest -R` picks a case and a skipped case shows as skipped. The
# cases are listed when ctest runs (the build never starts a test binary); each runs in a process
# of its own with the binary's label, timeout and environment. LOCK keeps the cases holding the
# same name from running at the same time, for cases that load the machine so heavily (a display
# server, the program and its buses each) that several at once would starve one another.
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
