# LibAV/ in the program folder holds links to the system's FFmpeg and SDL libraries,
# so the program loads one consistent set from its own folder.
set(FENNICK_LIBAV_SONAMES
  libavutil.so.57 libswresample.so.4 libswscale.so.6 libpostproc.so.56
  libavcodec.so.59 libavformat.so.59 libavfilter.so.8 libavdevice.so.59
  libSDL-1.2.so.0)
set(_libav_stamps)
foreach(soname ${FENNICK_LIBAV_SONAMES})
  find_file(FENNICK_LIB_${soname} ${soname}
    PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib /usr/local/lib NO_DEFAULT_PATH)
  if(NOT FENNICK_LIB_${soname})
    message(FATAL_ERROR "${soname} not found: run 'make test' or 'make run', which install the packages")
  endif()
  add_custom_command(OUTPUT ${FENNICK_LIBAV_DIR}/${soname}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${FENNICK_LIB_${soname}} ${FENNICK_LIBAV_DIR}/${soname}
    VERBATIM)
  list(APPEND _libav_stamps ${FENNICK_LIBAV_DIR}/${soname})
endforeach()
add_custom_target(libav_folder ALL DEPENDS ${_libav_stamps})
