# Shared build helpers.

# zelvora_add_subdirectories(): adds every direct subfolder that has a CMakeLists.txt,
# so a new module needs no edit of its parent.
function(zelvora_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# The installed layout below the prefix (and the build tree's): programs, shared libraries
# and plug-ins, data. platform/paths/install_layout.h names the same folders for the code.
set(ZELVORA_INSTALL_BINDIR bin)
set(ZELVORA_INSTALL_LIBDIR lib)
set(ZELVORA_INSTALL_DATADIR share/zelvora)

# zelvora_install_programs(<targets...>): installs programs into bin. Their run path
# ($ORIGIN/../lib, every target's default) finds the project's libraries in lib. Each carries
# the project's version as its file version (platform/version).
function(zelvora_install_programs)
  foreach(t IN LISTS ARGN)
    target_link_libraries(${t} PRIVATE zv_version_record)
  endforeach()
  install(TARGETS ${ARGN} RUNTIME DESTINATION ${ZELVORA_INSTALL_BINDIR})
endfunction()

# zelvora_install_libraries(<targets...>): installs shared libraries and plug-ins into lib,
# with the run path $ORIGIN (the libraries they need lie beside them), and the file version
# as the programs have it.
function(zelvora_install_libraries)
  foreach(t IN LISTS ARGN)
    target_link_libraries(${t} PRIVATE zv_version_record)
  endforeach()
  set_target_properties(${ARGN} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${ARGN} LIBRARY DESTINATION ${ZELVORA_INSTALL_LIBDIR})
endfunction()

# The sanitizer build (scripts/test) builds only this target and runs the tests labelled
# "sanitize".
if(NOT TARGET sanitize_tests)
  add_custom_target(sanitize_tests)
endif()

# zelvora_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [SANITIZE] [JUST_BOOTED]
#                  [TIMEOUT <seconds>] [LABELS <labels...>] [RESOURCE_LOCK <name>])
# Builds one GoogleTest executable and registers it as one ctest test. SANITIZE adds it
# to the sanitizer run. JUST_BOOTED registers it a second time as <name>_just_booted, run
# by tools/testing/just-booted as on a machine booted a minute ago (for tests of timers;
# skipped where no time namespace can be made). Tests get a fresh ZELVORA_ROOT through the
# test fixture helpers.
function(zelvora_add_test)
  cmake_parse_arguments(T "SANITIZE;JUST_BOOTED" "NAME;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_property(GLOBAL APPEND PROPERTY ZELVORA_TEST_TARGETS ${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(labels ${T_LABELS})
  if(T_SANITIZE)
    list(APPEND labels sanitize)
    add_dependencies(sanitize_tests ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "ZELVORA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;QT_QPA_PLATFORM=offscreen")
  if(labels)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}")
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_JUST_BOOTED)
    set(booted ${T_NAME}_just_booted)
    add_test(NAME ${booted} COMMAND ${PROJECT_SOURCE_DIR}/tools/testing/just-booted $<TARGET_FILE:${T_NAME}>)
    set_tests_properties(${booted} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77
      ENVIRONMENT "ZELVORA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin;QT_QPA_PLATFORM=offscreen")
    if(T_LABELS)
      set_tests_properties(${booted} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_RESOURCE_LOCK)
      set_tests_properties(${booted} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
  endif()
endfunction()

# zelvora_add_fuzzer(NAME <name> SOURCE <file> LIBRARY <lib>)
# A libFuzzer target, built only with -DZELVORA_FUZZ=ON and clang. The library under test is
# instrumented as well, so coverage of its own code guides the fuzzer.
function(zelvora_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;SOURCE;LIBRARY" "" ${ARGN})
  if(NOT (ZELVORA_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
    return()
  endif()
  target_compile_options(${F_LIBRARY} PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(${F_NAME} ${F_SOURCE})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBRARY})
endfunction()

# zelvora_add_deliverables_target(): the target `deliverables` builds every program, library
# and plug-in of the system and what they need, but no test and no benchmark, so the demo
# and the installer build only what they run. Called once, after every folder is added.
function(zelvora_add_deliverables_target)
  set(pending ${PROJECT_SOURCE_DIR})
  set(found)
  while(pending)
    list(POP_FRONT pending dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND pending ${subdirs})
    if(dir MATCHES "^${PROJECT_SOURCE_DIR}/bench(/|$)")
      continue()
    endif()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t IN LISTS targets)
      get_target_property(type ${t} TYPE)
      # Programs and libraries that only tests start or load are built from their tests' and
      # test helpers' folders.
      get_target_property(sources ${t} SOURCES)
      if(sources AND NOT type STREQUAL "UTILITY")
        list(FILTER sources EXCLUDE REGEX "(^|/)(tests|testing)/")
        if(NOT sources)
          continue()
        endif()
      endif()
      if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
        list(APPEND found ${t})
      elseif(type STREQUAL "UTILITY" AND NOT t STREQUAL "sanitize_tests")
        # Generated files the install lays out (the PPDs).
        get_target_property(skip ${t} EXCLUDE_FROM_ALL)
        if(NOT skip)
          list(APPEND found ${t})
        endif()
      endif()
    endforeach()
  endwhile()
  get_property(tests GLOBAL PROPERTY ZELVORA_TEST_TARGETS)
  if(tests)
    list(REMOVE_ITEM found ${tests})
  endif()
  add_custom_target(deliverables)
  if(found)
    add_dependencies(deliverables ${found})
  endif()
endfunction()
