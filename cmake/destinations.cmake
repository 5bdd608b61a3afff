# corvantis_destinations(<target> <dsn> <chat base address> <chat id>)
# A small library that carries one executable's results destinations; the chat address is
# stored enciphered, generated at build time by encipher_config.
function(corvantis_destinations target dsn chat_url chat_id)
  if(NOT chat_id MATCHES "^-?[0-9]+$")
    message(FATAL_ERROR "the chat id of ${target} must be a whole number, not '${chat_id}'")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/generated/${target})
  set(CORVANTIS_SENTRY_DSN "${dsn}")
  set(CORVANTIS_CHAT_ID "${chat_id}")
  configure_file(${CMAKE_SOURCE_DIR}/submit/destinations/build_config.h.in ${dir}/submit/build_config.h)
  file(WRITE ${dir}/chat_base_address.txt.in "${chat_url}")
  configure_file(${dir}/chat_base_address.txt.in ${dir}/chat_base_address.txt COPYONLY)
  add_custom_command(OUTPUT ${dir}/submit/chat_endpoint_config.h
    COMMAND encipher_config ${dir}/chat_base_address.txt ${dir}/submit/chat_endpoint_config.h
    DEPENDS encipher_config ${dir}/chat_base_address.txt
    COMMENT "Enciphering the chat endpoint address of ${target}")
  add_library(${target} STATIC ${CMAKE_SOURCE_DIR}/submit/destinations/built_in_destinations.cpp
    ${dir}/submit/chat_endpoint_config.h)
  target_include_directories(${target} PRIVATE ${dir})
  target_link_libraries(${target} PRIVATE corvantis_warnings)
endfunction()
