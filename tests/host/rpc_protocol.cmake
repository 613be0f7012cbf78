talrec_add_test(host_rpc_protocol_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rpc_protocol_test.cpp
          ${PROJECT_SOURCE_DIR}/host/RpcProtocol.cpp ${PROJECT_SOURCE_DIR}/host/LineReader.cpp
  LIBS nlohmann_json::nlohmann_json)
