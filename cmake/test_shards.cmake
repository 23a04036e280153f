# qv_add_test_shards(<program> SHARDS <n> [TIMEOUT <s>] [ENVIRONMENT <var=value>...])
#
# Registers a GoogleTest program with CTest as <n> tests, <program>:1/<n>
# to <program>:<n>/<n>, each running its share of the program's tests
# (GoogleTest's own sharding deals the tests out in turn). A process per
# test would spend more time starting a sanitized program than running the
# test; a few shares still let CTest run them side by side. One test alone:
# <program> --gtest_filter=<Suite.Name>.
function(qv_add_test_shards program)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SHARDS;TIMEOUT" "ENVIRONMENT")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  foreach(index RANGE 1 ${arg_SHARDS})
    math(EXPR shard "${index} - 1")
    set(name "${program}:${index}/${arg_SHARDS}")
    add_test(NAME ${name} COMMAND ${program})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT} ENVIRONMENT
      "${arg_ENVIRONMENT};GTEST_TOTAL_SHARDS=${arg_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()
