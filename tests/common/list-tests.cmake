# cmake -DBUILD_DIR=FOLDER -P list-tests.cmake: prints every CTest entry of a build folder with
# the program it starts ("NAME<tab>PROGRAM"), read from CTest's own files as CTest reads them
# (without running CTest, which would start a log of its own over that of a run under way).
function(add_test name command)
  message("${name}\t${command}")
endfunction()
function(set_tests_properties)
endfunction()
function(subdirs dir)
  include(${CMAKE_CURRENT_LIST_DIR}/${dir}/CTestTestfile.cmake)
endfunction()
include(${BUILD_DIR}/CTestTestfile.cmake)
