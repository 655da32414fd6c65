// Address helpers for setting up a session: numeric addresses for libnice,
// the one local address its host candidates use, and a STUN probe that tells
// a relay that refuses from one that does not answer.
#pragma once

#include <chrono>
#include <string>

namespace pppp {

// The first IPv4 address of `host` as text; empty when it does not resolve.
std::string resolve_ipv4(const std::string &host);
// The local address that reaches `server`: on loopback the server's own
// address (each test owns one), elsewhere the route's source address. Host
// candidates use only it, so no check ever leaves for another interface.
std::string local_address_towards(const std::string &server);
// True when a STUN server at that address answers a binding request in time.
bool stun_answers(const std::string &address, int port, std::chrono::milliseconds timeout);

}  // namespace pppp
