# Run by CPack after the install into its staging directory: static libraries lose their debug
# sections as the programs and the shared library do (CPACK_STRIP_FILES leaves archives alone).
file(GLOB_RECURSE _archives "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(a IN LISTS _archives)
  execute_process(COMMAND "${CPACK_KORVA_STRIP}" --strip-debug "${a}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot strip ${a}")
  endif()
endforeach()
