# Adds every subfolder of the current source folder that has a CMakeLists.txt: each area keeps
# its tests (or benchmarks) in a folder of its own.
function(corvantis_add_area_subdirectories)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area ${areas})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
