# Tools that only some tests need. Without one, the rest still configures and builds: the
# targets that need it are off, said in one status line. CI configures with SORVEL_REQUIRE_ALL
# (scripts/build.sh), where a missing tool stops the configure, so that no test is lost silently.

# Finds PROGRAM into the cache variable VAR. When it is missing, WHAT (the targets that need it)
# is turned off with a status line, or, with SORVEL_REQUIRE_ALL, the configure stops.
function(sorvel_find_optional_tool var program what)
  find_program(${var} ${program})
  if(${var})
    return()
  endif()
  if(SORVEL_REQUIRE_ALL)
    message(FATAL_ERROR "${program} is missing, and without it ${what} cannot be built "
                        "(SORVEL_REQUIRE_ALL is on): run scripts/install-deps.sh")
  endif()
  message(STATUS "${what}: off, ${program} is missing (scripts/install-deps.sh installs it)")
endfunction()
