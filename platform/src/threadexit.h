// What a thread leaves in other services, released as it ends.
#pragma once

namespace mxp {

// Destroys the calling thread's windows and drops its message queue, answering 0 to senders still
// waiting on it. Runs as a thread ends, before its handle is signalled; harmless for a thread with none.
void ReleaseThreadWindows();

}  // namespace mxp
