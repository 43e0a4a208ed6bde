// Asio, Asio's TLS layer and Beast are compiled once, here; every other file of the program only
// includes their headers (separate compilation is switched on for all users of the engine).
#include <utility>

#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
