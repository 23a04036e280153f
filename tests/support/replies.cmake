# The function table, its sample replies, the in-process test service and
# the client that decodes from memory: what the tests and the reply fuzzer
# both drive the library with. Compiled once where a tree builds both.
if(NOT TARGET qvtest_replies)
  find_package(Threads REQUIRED)
  set(QV_REPLY_SUPPORT function_table.cpp memory_client.cpp sample_replies.cpp test_service.cpp)
  list(TRANSFORM QV_REPLY_SUPPORT PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
  add_library(qvtest_replies STATIC ${QV_REPLY_SUPPORT})
  target_include_directories(qvtest_replies PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_compile_options(qvtest_replies PRIVATE ${QV_WARNINGS})
  target_link_libraries(qvtest_replies PUBLIC qvcore_testing Threads::Threads)
endif()
