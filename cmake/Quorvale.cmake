# Shared build settings and helpers for every target of the tree.

# Warnings and floating-point rules: results must be bit-identical from run to run,
# so no fast-math and no contraction of a*b+c into fused operations.
set(QV_COMMON_FLAGS -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers
    -ffp-contract=off -fno-strict-aliasing
    "-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=")

if(QV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# qv_add_subsystem(<folder> [SOURCES ...] [DEPS ...])
# A static library qv_<folder>; headers are included as "<folder>/<name>.h".
# Without SOURCES every .cpp file directly in the folder is compiled, so
# several people can add files to one folder without editing this list.
function(qv_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;EXCLUDE" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
    foreach(x ${ARG_EXCLUDE})
      list(REMOVE_ITEM ARG_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${x})
    endforeach()
  endif()
  add_library(qv_${name} STATIC ${ARG_SOURCES})
  target_include_directories(qv_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(qv_${name} PRIVATE ${QV_COMMON_FLAGS})
  # The subsystems call each other both ways (the app core starts everything,
  # everything logs through it), so the static libraries form cycles; the
  # linker walks the cycle this many times.
  set_target_properties(qv_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON LINK_INTERFACE_MULTIPLICITY 4)
  if(ARG_DEPS)
    target_link_libraries(qv_${name} PUBLIC ${ARG_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY QV_SUBSYSTEMS qv_${name})
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt
# (tests/<subsystem>, bench/<area>), so folders can be added independently.
function(qv_add_child_folders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(c ${children})
    if(IS_DIRECTORY ${c} AND EXISTS ${c}/CMakeLists.txt)
      add_subdirectory(${c})
    endif()
  endforeach()
endfunction()

# qv_add_test(<name> SOURCES ... [LIBS ...] [XVFB] [ENV ...])
# A GoogleTest executable run through CTest. Tests run headless and with a
# private XDG_DATA_HOME so they never touch a real home folder; XVFB runs the
# executable under a virtual X server (for mouse warping and relative mode).
function(qv_add_test name)
  cmake_parse_arguments(ARG "XVFB;EXPORTS" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QV_COMMON_FLAGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} qv_testsupport GTest::gtest GTest::gtest_main)
  if(ARG_EXPORTS)
    set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  endif()
  set(env
    "SDL_VIDEODRIVER=offscreen"
    "SDL_AUDIODRIVER=dummy"
    "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/${name}"
    "GLIBC_TUNABLES=glibc.malloc.trim_threshold=1073741824"
    "QV_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "QV_GAME_DIR=${QV_GAME_DIR}"
    ${ARG_ENV})
  if(ARG_XVFB)
    list(REMOVE_ITEM env "SDL_VIDEODRIVER=offscreen")
    set(launcher xvfb-run -a -s "-screen 0 1280x1024x24")
  else()
    set(launcher "")
  endif()
  add_test(NAME ${name} COMMAND ${launcher} $<TARGET_FILE:${name}>
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
endfunction()

# qv_add_bench(<name> SOURCES ... [LIBS ...])
# A benchmark program; ./bench.sh runs every one of them. Each prints
# "name value unit" lines.
function(qv_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QV_COMMON_FLAGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  set_property(GLOBAL APPEND PROPERTY QV_BENCHES ${name})
endfunction()

# qv_add_game_executable(): the game executable build/game/quorvale. Called at
# the end of the top-level CMakeLists.txt, after every subsystem is declared.
# Every qv_* library (and the script language) is linked whole and the
# executable exports its symbols, so the game-object module, loaded later, can
# bind by name to any host function or global, also to ones the host itself
# never calls.
function(qv_add_game_executable)
  get_property(subsystems GLOBAL PROPERTY QV_SUBSYSTEMS)
  if(TARGET squirrel)
    list(APPEND subsystems squirrel)
  endif()
  add_executable(quorvale ${CMAKE_SOURCE_DIR}/app/main.cpp)
  target_include_directories(quorvale PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(quorvale PRIVATE ${QV_COMMON_FLAGS})
  # The whole-archive list goes through the link options: CMake refuses a
  # library with the WHOLE_ARCHIVE feature when it also comes in plainly as
  # another library's dependency. The plain links below still bring each
  # library's own dependencies (SDL, GL, ...) and the build order.
  set(archives "")
  foreach(s ${subsystems})
    list(APPEND archives "$<TARGET_FILE:${s}>")
  endforeach()
  target_link_options(quorvale PRIVATE "LINKER:--whole-archive" ${archives} "LINKER:--no-whole-archive")
  target_link_libraries(quorvale PRIVATE ${subsystems})
  set_target_properties(quorvale PROPERTIES ENABLE_EXPORTS ON RUNTIME_OUTPUT_DIRECTORY ${QV_GAME_DIR})
endfunction()

# qv_link_data_tree(): links each top-level entry of data/ into the
# application folder, so that edits to the data reload while the game runs.
# The glob is checked again at every build, so new entries get their links.
function(qv_link_data_tree)
  file(GLOB entries CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/data/*)
  foreach(e ${entries})
    get_filename_component(name ${e} NAME)
    if(name STREQUAL "CMakeLists.txt")
      continue()
    endif()
    set(link ${QV_GAME_DIR}/${name})
    if(IS_SYMLINK ${link} OR NOT EXISTS ${link})
      file(CREATE_LINK ${e} ${link} SYMBOLIC)
    else()
      message(WARNING "${link} exists and is not a link to data/${name}; left as it is")
    endif()
  endforeach()
endfunction()

# qv_link_host_whole(<target>): for test and benchmark programs that load the
# game-object module. Like the game executable, the program holds every host
# library whole and exports its symbols, because the module binds to host
# functions and globals by name, also to ones the program itself never calls.
function(qv_link_host_whole target)
  get_property(libs GLOBAL PROPERTY QV_SUBSYSTEMS)
  if(TARGET squirrel)
    list(APPEND libs squirrel)
  endif()
  set(archives "")
  foreach(l ${libs})
    list(APPEND archives "$<TARGET_FILE:${l}>")
  endforeach()
  target_link_options(${target} PRIVATE "LINKER:--whole-archive" ${archives} "LINKER:--no-whole-archive")
  target_link_libraries(${target} PRIVATE ${libs})
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()
