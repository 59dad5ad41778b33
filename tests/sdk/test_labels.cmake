# Read by ctest after the discovered GoogleTest cases are defined. Gives every case of a
# test program its full set of labels (gtest_discover_tests passes a single label only).
foreach(program_labels
    "sdk_cli_unit_tests|sdk;threaded"
    "sdk_cli_sim_tests|sdk;sim;threaded"
    "sdk_cli_process_tests|sdk;sim")
  string(REPLACE "|" ";" parts "${program_labels}")
  list(POP_FRONT parts program)
  if(${program}_TESTS)
    set_tests_properties(${${program}_TESTS} PROPERTIES LABELS "${parts}")
  endif()
endforeach()
