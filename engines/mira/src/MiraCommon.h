// Helpers the engine and the share companion have in common.
#pragma once

#include <string>

namespace mira {

// A loopback TCP port held open (bound and listening) until ClosePort; 0 and fd -1 on failure.
int OpenPort(int& fd);
void ClosePort(int& fd);
// Text as a fixed zero-terminated field: at most size - 1 bytes, the rest zeroed.
void CopyField(char* field, size_t size, const std::string& text);

}  // namespace mira
