// HTTP for the XML document service's loads (the module itself never opens a connection).
#pragma once

#include <string>

namespace mxp {

// Fetches an http:// or https:// address into `body`. False, with `body` empty, for no connection, an
// HTTP error status, a time-out, too many redirects or a body above `maxBytes`. Bytes of the address
// that a URL cannot carry (spaces, controls, non-ASCII) are sent percent-encoded.
bool HttpGet(const std::string& utf8Url, size_t maxBytes, std::string& body);

}  // namespace mxp
