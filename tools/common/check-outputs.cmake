# Process check of one tool's command line and output writing, run with
# cmake -P. Every tool answers --help and --version, refuses unknown options
# as unknown and writes no file for any of them. A tool that writes an
# output file (WRITES=ON) must also: replace a regular file whole, say
# "cannot write "PATH": REASON" and exit 1 when it cannot, write through a
# symbolic link, a FIFO or a device instead of replacing it, and leave a
# good file in place when the disk is full. Device nodes and the full disk
# are made in the scratch folder (a small tmpfs in a private mount
# namespace); the system's own devices are never outputs.
# Variables: TOOL (the program), NAME (its name in messages), EMULATOR (may
# be empty), SCRATCH (a folder of its own), WRITES (ON/OFF), WINDOWS (ON
# when TOOL is a Windows program).
set(run ${EMULATOR} ${TOOL})
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})

function(fail what)
  message(FATAL_ERROR "${NAME}: ${what}")
endfunction()

# Runs the tool in the scratch folder: rc, out and err in the caller.
function(tool)
  execute_process(COMMAND ${run} ${ARGN} WORKING_DIRECTORY ${SCRATCH}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc "${rc}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_entries count)
  file(GLOB entries LIST_DIRECTORIES true ${SCRATCH}/*)
  list(LENGTH entries n)
  if(NOT n EQUAL count)
    fail("expected ${count} entries in the scratch folder, found: ${entries}")
  endif()
endfunction()

# Options: answered or refused, and never taken for a file name.
foreach(help --help -h)
  tool(${help})
  if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage: ${NAME}")
    fail("${help} gave ${rc}: ${out}${err}")
  endif()
endforeach()
tool(--version)
if(NOT rc EQUAL 0 OR NOT out MATCHES "\\$Revision: [0-9.]+ \\$")
  fail("--version gave ${rc}: ${out}${err}")
endif()
foreach(bogus --bogus -x)
  tool(${bogus})
  if(rc EQUAL 0 OR NOT err MATCHES "unknown option \"?${bogus}\"?")
    fail("${bogus} gave ${rc}: ${err}")
  endif()
endforeach()
expect_entries(0)
if(NOT WRITES)
  return()
endif()

# A regular file is replaced whole, with nothing left beside it.
file(WRITE ${SCRATCH}/out.dat "old")
tool(${SCRATCH}/out.dat)
file(READ ${SCRATCH}/out.dat bytes LIMIT 16 HEX)
if(NOT rc EQUAL 0 OR bytes STREQUAL "6f6c64")
  fail("writing over a file gave ${rc} (${bytes}): ${err}")
endif()
expect_entries(1)

# Failures say why, exit 1 and create nothing.
foreach(target ${SCRATCH} ${SCRATCH}/missing/out.dat)
  tool(${target})
  if(NOT rc EQUAL 1 OR NOT err MATCHES "${NAME}: cannot write \"[^\"]+\": [A-Za-z]")
    fail("writing to ${target} gave ${rc}: ${err}")
  endif()
endforeach()
expect_entries(1)

if(WINDOWS)
  # The null device is written through.
  tool(NUL)
  if(NOT rc EQUAL 0)
    fail("writing to NUL gave ${rc}: ${err}")
  endif()
  expect_entries(1)
  return()
endif()

# A symbolic link is followed to its target and stays a link.
file(MAKE_DIRECTORY ${SCRATCH}/real)
file(CREATE_LINK real/out.dat ${SCRATCH}/link SYMBOLIC)
tool(${SCRATCH}/link)
if(NOT rc EQUAL 0 OR NOT IS_SYMLINK ${SCRATCH}/link OR NOT EXISTS ${SCRATCH}/real/out.dat)
  fail("writing through a link gave ${rc}: ${err}")
endif()

# A FIFO is written through, read by cat beside the tool.
execute_process(COMMAND mkfifo ${SCRATCH}/pipe RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  fail("cannot make a FIFO")
endif()
execute_process(COMMAND ${run} ${SCRATCH}/pipe COMMAND cat ${SCRATCH}/pipe
  OUTPUT_FILE ${SCRATCH}/from-pipe RESULTS_VARIABLE rcs ERROR_VARIABLE err TIMEOUT 60)
file(SIZE ${SCRATCH}/from-pipe size)
execute_process(COMMAND test -p ${SCRATCH}/pipe RESULT_VARIABLE fifo)
if(NOT rcs STREQUAL "0;0" OR size EQUAL 0 OR NOT fifo EQUAL 0)
  fail("writing to a FIFO gave ${rcs}, ${size} bytes, FIFO kept: ${fifo}: ${err}")
endif()

# Device nodes with the numbers of the null (1, 3) and full (1, 7) devices.
execute_process(COMMAND mknod ${SCRATCH}/null c 1 3 RESULT_VARIABLE null_made ERROR_QUIET)
execute_process(COMMAND mknod ${SCRATCH}/full c 1 7 RESULT_VARIABLE full_made ERROR_QUIET)
if(null_made EQUAL 0 AND full_made EQUAL 0)
  tool(${SCRATCH}/null)
  if(NOT rc EQUAL 0)
    fail("writing to a null device gave ${rc}: ${err}")
  endif()
  tool(${SCRATCH}/full)
  if(NOT rc EQUAL 1 OR NOT err MATCHES "cannot write \"[^\"]*full\": No space left on device")
    fail("writing to a full device gave ${rc}: ${err}")
  endif()
  foreach(node null full)
    execute_process(COMMAND test -c ${SCRATCH}/${node} RESULT_VARIABLE still)
    if(NOT still EQUAL 0)
      fail("the ${node} device node was replaced")
    endif()
  endforeach()
else()
  message(STATUS "${NAME}: cannot make device nodes here; device cases not run")
endif()

# A full disk: a 64 KB tmpfs filled up, in a private mount namespace.
file(MAKE_DIRECTORY ${SCRATCH}/small)
execute_process(COMMAND unshare --mount --propagation private sh -c
  "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99
   cd \"$1\" && printf good > out.dat && (dd if=/dev/zero of=fill bs=1k count=128 2>/dev/null; true)
   \"$2\" \"$1/out.dat\"; rc=$?
   printf '%s %s %s' \"$rc\" \"$(cat out.dat)\" \"$(ls | wc -l)\""
  sh ${SCRATCH}/small ${TOOL}
  RESULT_VARIABLE shell OUTPUT_VARIABLE result ERROR_VARIABLE err)
if(shell EQUAL 0)
  if(NOT result STREQUAL "1 good 2" OR NOT err MATCHES "No space left on device")
    fail("on a full disk: exit, content and entries were \"${result}\": ${err}")
  endif()
else()
  message(STATUS "${NAME}: no private tmpfs here (${shell}); full-disk case not run")
endif()
file(REMOVE_RECURSE ${SCRATCH})
