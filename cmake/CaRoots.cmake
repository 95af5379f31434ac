# Web CA roots built into the module: the distribution's bundle turned into a
# C++ source at build time, so the transport never reads a system trust store.
set(VOSTREL_CA_BUNDLE "/etc/ssl/certs/ca-certificates.crt" CACHE FILEPATH "PEM bundle of web CA roots")
if(NOT EXISTS "${VOSTREL_CA_BUNDLE}")
  message(FATAL_ERROR "CA bundle ${VOSTREL_CA_BUNDLE} not found; install ca-certificates")
endif()
set(_ca_out "${CMAKE_CURRENT_BINARY_DIR}/generated/ca_roots.cc")
add_custom_command(
  OUTPUT "${_ca_out}"
  COMMAND ${CMAKE_COMMAND} -DINPUT=${VOSTREL_CA_BUNDLE} -DOUTPUT=${_ca_out}
          -P "${CMAKE_CURRENT_SOURCE_DIR}/tools/embed_ca_roots.cmake"
  DEPENDS "${VOSTREL_CA_BUNDLE}" "${CMAKE_CURRENT_SOURCE_DIR}/tools/embed_ca_roots.cmake"
  COMMENT "Embedding web CA roots")
add_library(vostrel_ca_roots STATIC "${_ca_out}")
set_target_properties(vostrel_ca_roots PROPERTIES POSITION_INDEPENDENT_CODE ON)
