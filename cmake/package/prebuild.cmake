# Runs inside cpack after the install rules have filled the package's staging folder and
# before the package is made: adds the files Debian's policy asks of every package (copyright,
# changelog, the one lintian override), and strips every program and library, keeping their
# debug parts in a separate tree for the debug-symbols package that scripts/package builds.
#
# Takes from cpack: CPACK_TEMPORARY_DIRECTORY (the staging folder, laid out from /) and the
# variables set in cmake/Install.cmake (CPACK_ZELVORA_DOC_SOURCE, CPACK_ZELVORA_DEBUG_DIR).

set(stage "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${stage}/opt/zelvora")
  message(FATAL_ERROR "package: the staging folder ${stage} holds no /opt/zelvora")
endif()

# Policy files: the copyright notice, the changelog (gzip -9n, no time stamp, so the package is
# reproducible) and the override saying why the files lie below /opt.
set(doc "${stage}/usr/share/doc/zelvora")
file(MAKE_DIRECTORY "${doc}" "${stage}/usr/share/lintian/overrides")
file(COPY_FILE "${CPACK_ZELVORA_DOC_SOURCE}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_ZELVORA_DOC_SOURCE}/lintian-overrides" "${stage}/usr/share/lintian/overrides/zelvora")
file(COPY_FILE "${CPACK_ZELVORA_DOC_SOURCE}/changelog" "${doc}/changelog")
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "package: gzip of the changelog failed")
endif()
foreach(f "${doc}/copyright" "${doc}/changelog.gz" "${stage}/usr/share/lintian/overrides/zelvora")
  file(CHMOD "${f}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
foreach(d "${stage}/usr" "${stage}/usr/share" "${doc}" "${stage}/usr/share/lintian"
          "${stage}/usr/share/lintian/overrides")
  file(CHMOD "${d}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE)
endforeach()

# Every ELF file: its debug parts go to <debug dir>/usr/lib/debug/.build-id/xx/rest.debug,
# where the debugger finds them by build id; the file itself keeps only what runs.
file(REMOVE_RECURSE "${CPACK_ZELVORA_DEBUG_DIR}")
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${stage}/opt/zelvora/*")
foreach(f IN LISTS candidates)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND readelf -n "${f}" OUTPUT_VARIABLE notes RESULT_VARIABLE rc)
  string(REGEX MATCH "Build ID: ([0-9a-f]+)" found "${notes}")
  if(NOT rc EQUAL 0 OR NOT found)
    message(FATAL_ERROR "package: ${f} has no build id, so its debug parts could not be found again")
  endif()
  set(id "${CMAKE_MATCH_1}")
  string(SUBSTRING "${id}" 0 2 head)
  string(SUBSTRING "${id}" 2 -1 tail)
  set(out "${CPACK_ZELVORA_DEBUG_DIR}/usr/lib/debug/.build-id/${head}/${tail}.debug")
  get_filename_component(out_dir "${out}" DIRECTORY)
  file(MAKE_DIRECTORY "${out_dir}")
  execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections "${f}" "${out}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "package: objcopy --only-keep-debug ${f} failed")
  endif()
  file(CHMOD "${out}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  # Shared libraries keep their dynamic symbols only; programs lose every symbol. The
  # .comment and .note sections say only which compiler made the file.
  if(f MATCHES "\\.so(\\.[0-9.]+)?$")
    set(strip_mode --strip-unneeded)
  else()
    set(strip_mode --strip-all)
  endif()
  execute_process(COMMAND strip ${strip_mode} --remove-section=.comment --remove-section=.note "${f}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "package: strip ${f} failed")
  endif()
endforeach()
