# Sockets, HTTP requests, text search and server addresses.
kv4r_test(http_tests
  SOURCES http_request_test.cpp http_address_test.cpp net_socket_test.cpp
  DEPS stream)

# Counts every close() of the program (linker-wrapped) to prove each socket is closed once.
kv4r_test(net_close_tests
  SOURCES net_close_test.cpp
  DEPS stream)
target_link_options(net_close_tests PRIVATE -Wl,--wrap=close)
