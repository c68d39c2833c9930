# Installs the build into a fresh prefix and checks the result as a desktop would see it: the
# program, its libraries and resources, the desktop entry (valid, when desktop-file-validate is
# there) and its icon under the XDG folders; then starts the installed program on Qt's offscreen
# platform, in private XDG folders, until its first window is shown.
#   cmake -DBUILD_DIR=<build folder> -DPREFIX=<empty folder> -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(path
    bin/Tickwell
    share/applications/com.velmora.Tickwell.desktop
    share/icons/hicolor/64x64/apps/com.velmora.Tickwell.png
    share/Tickwell/Info.plist
    share/Tickwell/IconSettingsGeneral.png)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(GLOB libraries "${PREFIX}/lib*/tickwell/libTickwell*.so")
if(NOT libraries)
  message(FATAL_ERROR "no libraries installed under lib/tickwell")
endif()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} "${PREFIX}/share/applications/com.velmora.Tickwell.desktop"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR out MATCHES "error")
    message(FATAL_ERROR "the desktop entry is not valid: ${out}")
  endif()
else()
  message(STATUS "desktop-file-validate is not installed: the entry was not validated")
endif()

# The installed program finds its libraries and resources by itself (no build folder involved).
set(home "${PREFIX}/home")
foreach(dir data config cache state runtime)
  file(MAKE_DIRECTORY "${home}/${dir}")
endforeach()
file(CHMOD "${home}/runtime" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
    --unset=LD_LIBRARY_PATH --unset=TICKWELL_BUNDLE_DIR
    "HOME=${home}" "XDG_DATA_HOME=${home}/data" "XDG_CONFIG_HOME=${home}/config"
    "XDG_CACHE_HOME=${home}/cache" "XDG_STATE_HOME=${home}/state"
    "XDG_RUNTIME_DIR=${home}/runtime" "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"
    QT_QPA_PLATFORM=offscreen TICKWELL_BENCH_EXIT_ON_EXPOSE=1
    "${PREFIX}/bin/Tickwell"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 60)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the installed program did not start and show its window: ${result}\n${out}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
