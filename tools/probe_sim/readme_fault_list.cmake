# The README's list of simulator faults is what `qrn-probe-sim --list-faults`
# prints from the fault table, indented into its paragraph. This script fails
# when the two differ; with -DUPDATE=ON it writes the printed list in instead.
#   cmake -DSIM=build/tools/probe_sim/qrn-probe-sim -DREADME=README.md [-DUPDATE=ON] -P readme_fault_list.cmake
set(begin_marker "<!-- fault list begin: made by the fault table, see tools/probe_sim/readme_fault_list.cmake -->\n")
set(end_marker "  <!-- fault list end -->")

execute_process(COMMAND ${SIM} --list-faults OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR listed STREQUAL "")
  message(FATAL_ERROR "${SIM} --list-faults failed (${status})")
endif()
string(REGEX REPLACE "(^|\n)-" "\\1  -" expected "${listed}")

file(READ ${README} readme)
string(FIND "${readme}" "${begin_marker}" begin)
string(FIND "${readme}" "${end_marker}" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${README} has no fault list between the markers")
endif()
string(LENGTH "${begin_marker}" marker_length)
math(EXPR first "${begin} + ${marker_length}")
math(EXPR length "${end} - ${first}")
string(SUBSTRING "${readme}" ${first} ${length} current)

if(current STREQUAL expected)
  return()
endif()
if(UPDATE)
  string(SUBSTRING "${readme}" 0 ${first} head)
  string(SUBSTRING "${readme}" ${end} -1 tail)
  file(WRITE ${README} "${head}${expected}${tail}")
  message(STATUS "${README}: fault list updated")
else()
  message(FATAL_ERROR "${README}'s fault list differs from the fault table; update it with\n"
                      "  cmake -DSIM=${SIM} -DREADME=${README} -DUPDATE=ON -P ${CMAKE_CURRENT_LIST_FILE}\n"
                      "README:\n${current}\ntable:\n${expected}")
endif()
