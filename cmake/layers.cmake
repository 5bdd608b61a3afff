# The layers of the product, top to bottom: app/; scenarios/, report/, submit/, debug_capture/;
# amf/ and sentry/; minidump/; platform/. amfrt/ uses only amf/api/ and platform/.
# corvantis_folder(<folder> TARGETS <libraries> USES <folders>) names a folder's libraries and the
# folders right below it that it may use; what those use, it may use too. A link or an #include
# that runs elsewhere fails the build.

function(corvantis_folder folder)
  cmake_parse_arguments(arg "" "" "TARGETS;USES" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY CORVANTIS_FOLDERS ${folder})
  set_property(GLOBAL PROPERTY CORVANTIS_FOLDER_USES_${folder} ${arg_USES})
  foreach(target ${arg_TARGETS})
    set_property(GLOBAL PROPERTY CORVANTIS_FOLDER_OF_${target} ${folder})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY CORVANTIS_FOLDER_TARGETS ${arg_TARGETS})
endfunction()

corvantis_folder(platform TARGETS corvantis_platform corvantis_debug_output corvantis_va
  corvantis_signal_stack corvantis_throw_events)
corvantis_folder(platform/drawing TARGETS corvantis_drawing USES platform)
corvantis_folder(platform/http TARGETS corvantis_http USES platform)
corvantis_folder(amf/api TARGETS corvantis_amf_api)
corvantis_folder(amf TARGETS corvantis_amf USES amf/api platform)
corvantis_folder(minidump TARGETS corvantis_minidump USES platform)
corvantis_folder(sentry TARGETS corvantis_sentry corvantis_crash_handler_core
  USES minidump platform/http)
corvantis_folder(amfrt TARGETS amfrt_core amfrt_core_slow USES amf/api platform)
corvantis_folder(scenarios TARGETS corvantis_scenarios USES amf)
# The report is made of the series' records.
corvantis_folder(report TARGETS corvantis_report USES scenarios)
corvantis_folder(submit TARGETS corvantis_submit USES sentry platform/http)
corvantis_folder(debug_capture TARGETS corvantis_debug_capture USES minidump)
corvantis_folder(app TARGETS corvantis_app
  USES scenarios report submit debug_capture sentry platform/drawing)

# Every folder `folder` may use, below it; a folder that reaches itself is a cycle.
function(corvantis_folder_reach folder out)
  set(reach "")
  get_property(pending GLOBAL PROPERTY CORVANTIS_FOLDER_USES_${folder})
  while(pending)
    list(POP_FRONT pending next)
    if(next STREQUAL folder)
      message(FATAL_ERROR "${folder}/ uses itself through the folders it uses: a cycle")
    endif()
    if(NOT next IN_LIST reach)
      list(APPEND reach ${next})
      get_property(more GLOBAL PROPERTY CORVANTIS_FOLDER_USES_${next})
      list(APPEND pending ${more})
    endif()
  endwhile()
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# Checks every folder library's links now and its folder's #includes at every build (target
# corvantis_layers, built by default).
function(corvantis_check_layers)
  get_property(folders GLOBAL PROPERTY CORVANTIS_FOLDERS)
  get_property(targets GLOBAL PROPERTY CORVANTIS_FOLDER_TARGETS)
  set(rules "")
  foreach(folder ${folders})
    corvantis_folder_reach(${folder} reach_${folder})
    list(JOIN reach_${folder} " " joined)
    string(APPEND rules "${folder}=${joined}\n")
  endforeach()
  foreach(target ${targets})
    if(NOT TARGET ${target})
      continue()
    endif()
    get_property(folder GLOBAL PROPERTY CORVANTIS_FOLDER_OF_${target})
    get_target_property(links ${target} LINK_LIBRARIES)
    get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
    foreach(link ${links} ${interface_links})
      get_property(below GLOBAL PROPERTY CORVANTIS_FOLDER_OF_${link})
      if(below AND NOT below STREQUAL folder AND NOT below IN_LIST reach_${folder})
        message(FATAL_ERROR "${target} (${folder}/) may not link ${link} (${below}/)")
      endif()
    endforeach()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layers.txt "${rules}")
  add_custom_target(corvantis_layers ALL
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DRULES=${CMAKE_BINARY_DIR}/layers.txt
      -P ${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake
    VERBATIM)
  if(CORVANTIS_TESTS)
    # A check that let everything through would stay silent: it must name a planted back-include.
    set(planted ${CMAKE_BINARY_DIR}/layers-planted)
    file(WRITE ${planted}/scenarios/planted.h "#pragma once\n#include \"app/usage.h\"\n")
    add_test(NAME layers.NamesAnIncludeThatRunsBackUp COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${planted}
      -DRULES=${CMAKE_BINARY_DIR}/layers.txt -P ${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake)
    set_tests_properties(layers.NamesAnIncludeThatRunsBackUp PROPERTIES
      PASS_REGULAR_EXPRESSION "scenarios/planted.h includes app/usage.h: scenarios/ may not use app/")
  endif()
endfunction()
