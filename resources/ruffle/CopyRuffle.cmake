# Copies the runtime's script and its core and wasm files from SOURCE into DEST, leaving out
# the source maps, so that the program plays Flash movies without reaching the internet.
file(GLOB RUNTIME_FILES ${SOURCE}/*.js ${SOURCE}/*.wasm ${SOURCE}/LICENSE_*)
if(NOT RUNTIME_FILES)
  message(FATAL_ERROR "no Flash runtime files in ${SOURCE}")
endif()
file(REMOVE_RECURSE ${DEST})
file(COPY ${RUNTIME_FILES} DESTINATION ${DEST})
